#pragma once

#include "platform/Registry.h"

#include <QString>
#include <array>

namespace tarvina::client::config {

// One box of the "Windows" page: a per-user shell policy value. Most boxes
// read "feature allowed" (ticked = value absent); the network and display
// boxes read "restriction on" (ticked = value 1).
struct PolicyBox {
    const char* key;   // under ...\CurrentVersion\Policies\ of the current user
    const char* value; // the policy value's name
    const char16_t* caption;
    bool tickedAllows;
};

inline constexpr int kPolicyCount = 14;
extern const std::array<PolicyBox, kPolicyCount> kPolicyBoxes;

inline constexpr char16_t kRecycleBinCaption[] = u"Paplelera en el escritorio:";
inline constexpr char16_t kMyDocumentsCaption[] = u"Mis documentos en el escritorio";

// What the "Windows" page shows: a box per policy (in kPolicyBoxes' order)
// and the two desktop icons.
struct WindowsPageValues {
    std::array<bool, kPolicyCount> ticked{};
    bool recycleBin = false;
    bool myDocuments = false;
    bool operator==(const WindowsPageValues&) const = default;
};

// The page's values as the stored policies and desktop-icon keys give them:
// a present non-zero integer is a restriction that is on; an icon is shown
// when its key exists.
WindowsPageValues ReadWindowsPage(const platform::Registry& r);

// Writes the page back: a restriction that is on is the integer 1, one that
// is off is the absence of the value; the icon keys are created or removed.
// Only what differs from the store is touched.
void WriteWindowsPage(platform::Registry& r, const WindowsPageValues& v);

} // namespace tarvina::client::config
