#include "server/ui/pages/InstallPages.h"

#include "server/ui/MainWindow.h"
#include "server/ui/pages/TaquillaPages.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QItemSelectionModel>
#include <QMenu>

namespace tarvina::server::ui {

namespace {

// The row is the registry's, which is the computers model's row; the list
// shows that model through its sorting proxy, so once the operator sorted
// it the same number is another computer.
QModelIndex ListIndexOfRow(const QAbstractItemModel* model, int row) {
    if (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model)) {
        const QModelIndex source = ListIndexOfRow(proxy->sourceModel(), row);
        return source.isValid() ? proxy->mapFromSource(source) : QModelIndex();
    }
    if (model == nullptr || row < 0 || row >= model->rowCount()) {
        return {};
    }
    return model->index(row, 0);
}

} // namespace

void InstallPages(MainWindow& window, TaquillaPages& pages) {
    using PageId = MainWindow::PageId;
    window.setPage(PageId::Pin, pages.codesFrame());
    window.setPage(PageId::PinHistory, pages.historyFrame());
    window.setPage(PageId::Preferences, pages.preferencesFrame());
    MainWindow* w = &window;
    TaquillaPages* p = &pages;
    pages.showFrame = [w, p](QWidget* frame) {
        if (frame == p->codesFrame()) {
            w->showPage(PageId::Pin);
        } else if (frame == p->historyFrame()) {
            w->showPage(PageId::PinHistory);
        } else if (frame == p->preferencesFrame()) {
            w->showPage(PageId::Preferences);
        }
    };
    pages.showCodes = [w] { w->showPage(PageId::Pin); };
    // "Ver conexión": the computers view with that computer's row selected,
    // or nothing selected when the computer is not in the list.
    pages.showComputer = [w](int row) {
        w->showPage(PageId::Computers);
        QWidget* view = w->page(PageId::Computers);
        auto* list = view != nullptr ? view->findChild<QAbstractItemView*>() : nullptr;
        if (list == nullptr || list->model() == nullptr) {
            return;
        }
        const QModelIndex i = ListIndexOfRow(list->model(), row);
        if (i.isValid()) {
            list->setCurrentIndex(i);
            list->selectionModel()->select(i, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
            list->scrollTo(i);
        } else {
            list->clearSelection();
        }
    };
    if (QMenu* session = window.menu(MainWindow::MenuId::Session)) {
        session->insertAction(window.closeApplicationAction(), pages.preferencesAction());
    }
}

} // namespace tarvina::server::ui
