#include "client/config/WindowsPage.h"

namespace tarvina::client::config {

using platform::Root;

const std::array<PolicyBox, kPolicyCount> kPolicyBoxes = {{
    {"Explorer", "NoRecentDocsMenu", u"Documentos recientes:", true},
    {"Explorer", "NoSetActiveDesktop", u"\"Active desktop\" funcional:", true},
    {"Explorer", "NoRun", u"Menú de ejecución:", true},
    {"Explorer", "NoClose", u"Menú de para apagar equipo:", true},
    {"Explorer", "NoLogoff", u"Menú de para sesión: ", true},
    {"Network", "NoNetSetup", u"Deshabilita configuración de red:", false},
    {"Network", "NoNetSetupSecurityPage", u"Deshabilita pág. seguridad de red:", false},
    {"Network", "NoPrintSharingControl", u"Deshabilita compartimiento de impresoras:", false},
    {"Network", "NoEntireNetwork", u"Deshabilita red entera:", false},
    {"Network", "NoWorkgroupContents", u"Deshabilita contenido de grupo de trabajo:", false},
    {"System", "NoDispCPL", u"No muestra el panel de control.", false},
    {"System", "NoDispBackgroundPage", u"No permite modificar página de fondo.", false},
    {"System", "NoDispScrSavPage", u"No permite conf. refresc. de pantalla.", false},
    {"System", "NoDispAppearancePage", u"No permite cambiar apariencia.", false},
}};

namespace {

const QString kPolicies =
    QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\");
const QString kNameSpace = QStringLiteral(
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\NameSpace\\");
const QString kRecycleBin = kNameSpace + QStringLiteral("{645FF040-5081-101B-9F08-00AA002F954E}");
const QString kMyDocuments = kNameSpace + QStringLiteral("{450D8FBA-AD25-11D0-98A8-0800361B1103}");

QString KeyOf(const PolicyBox& b) {
    return kPolicies + QString::fromLatin1(b.key);
}

bool RestrictionOn(const platform::Registry& r, const PolicyBox& b) {
    return r.readInteger(Root::CurrentUser, KeyOf(b), QString::fromLatin1(b.value)).value_or(0) !=
           0;
}

} // namespace

WindowsPageValues ReadWindowsPage(const platform::Registry& r) {
    WindowsPageValues v;
    for (int i = 0; i < kPolicyCount; ++i) {
        const PolicyBox& b = kPolicyBoxes[i];
        v.ticked[i] = RestrictionOn(r, b) != b.tickedAllows;
    }
    v.recycleBin = r.keyExists(Root::LocalMachine, kRecycleBin);
    v.myDocuments = r.keyExists(Root::LocalMachine, kMyDocuments);
    return v;
}

void WriteWindowsPage(platform::Registry& r, const WindowsPageValues& v) {
    // The three policy keys exist after a save, as the page opens or creates
    // each (the drives page writes only into an existing Explorer key).
    for (const char* key : {"Explorer", "Network", "System"})
        r.createKey(Root::CurrentUser, kPolicies + QString::fromLatin1(key));
    for (int i = 0; i < kPolicyCount; ++i) {
        const PolicyBox& b = kPolicyBoxes[i];
        const bool on = v.ticked[i] != b.tickedAllows;
        const QString key = KeyOf(b);
        const QString name = QString::fromLatin1(b.value);
        if (on && r.readInteger(Root::CurrentUser, key, name) != 1)
            r.writeInteger(Root::CurrentUser, key, name, 1);
        else if (!on && r.valueExists(Root::CurrentUser, key, name))
            r.deleteValue(Root::CurrentUser, key, name);
    }
    const bool bin = r.keyExists(Root::LocalMachine, kRecycleBin);
    if (v.recycleBin && !bin)
        r.writeString(Root::LocalMachine, kRecycleBin, QString(), QStringLiteral("Recycle Bin"));
    else if (!v.recycleBin && bin)
        r.deleteKey(Root::LocalMachine, kRecycleBin);
    // Unticking the documents folder removes its key, so that the box reads
    // back as it was left.
    const bool docs = r.keyExists(Root::LocalMachine, kMyDocuments);
    if (v.myDocuments && !docs)
        r.writeString(Root::LocalMachine, kMyDocuments, QStringLiteral("Removal Message"),
                      QStringLiteral("@mydocs.dll,-900"));
    else if (!v.myDocuments && docs)
        r.deleteKey(Root::LocalMachine, kMyDocuments);
}

} // namespace tarvina::client::config
