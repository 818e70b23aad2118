#include "client/config/WindowsPage.h"

#include "client/station/StationKeys.h"

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

const QString kPolicies = QString::fromLatin1(keys::kPoliciesPath);

QString KeyOf(const PolicyBox& b) {
    return kPolicies + QString::fromLatin1(b.key);
}

bool RestrictionOn(const platform::Registry& r, const PolicyBox& b) {
    return r.readInteger(Root::CurrentUser, KeyOf(b), QString::fromLatin1(b.value)).value_or(0) !=
           0;
}

using Icon = platform::SettingValue<platform::form::Text>;

// A desktop icon is shown while its key exists.
bool IconShown(const platform::Registry& r, const Icon& icon) {
    return r.keyExists(icon.key().root, icon.key().text());
}

// Showing one writes its value; hiding it removes its key, so that the box
// reads back as it was left.
void ShowIcon(platform::Registry& r, const Icon& icon, bool show) {
    const bool shown = IconShown(r, icon);
    if (show && !shown)
        icon.write(r, icon.fallback());
    else if (!show && shown)
        r.deleteKey(icon.key().root, icon.key().text());
}

} // namespace

WindowsPageValues ReadWindowsPage(const platform::Registry& r) {
    WindowsPageValues v;
    for (int i = 0; i < kPolicyCount; ++i) {
        const PolicyBox& b = kPolicyBoxes[i];
        v.ticked[i] = RestrictionOn(r, b) != b.tickedAllows;
    }
    v.recycleBin = IconShown(r, keys::kRecycleBin);
    v.myDocuments = IconShown(r, keys::kMyDocuments);
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
    ShowIcon(r, keys::kRecycleBin, v.recycleBin);
    ShowIcon(r, keys::kMyDocuments, v.myDocuments);
}

} // namespace tarvina::client::config
