#pragma once

#include <QObject>
#include <QString>

namespace tarvina::server {

// The help's topics, numbered as the controls' help contexts are: 1000 the
// system, 1001 the cashier's program, 1002 the station's program, 1004 the
// preferences, 1007 the reports. The help is a few HTML pages; a topic is a
// page and, inside it, a section.
class HelpTopics {
public:
    static constexpr int kSystem = 1000;
    static constexpr int kCashier = 1001;
    static constexpr int kStation = 1002;
    static constexpr int kPreferences = 1004;
    static constexpr int kReports = 1007;

    // The property a widget, an action or a menu carries its topic in.
    static constexpr char kProperty[] = "helpContext";

    struct Page {
        QString file;   // in the help folder
        QString anchor; // empty: the top of the page
    };
    // A topic the help does not know opens the cashier's program's page.
    static Page PageOf(int topic);

    // The address that opens the topic's page at its section; empty when the
    // page is not in the folder.
    static QString Address(const QString& helpFolder, int topic);

    // The topic of the control that asked for help: the first help context
    // found on the object or its parents; an open menu answers with its
    // highlighted entry's first. 0 when none has one.
    static int ContextOf(const QObject* object);
};

} // namespace tarvina::server
