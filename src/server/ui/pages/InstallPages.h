#pragma once

namespace tarvina::server {
class MainWindow;
}

namespace tarvina::server::ui {

class TaquillaPages;

// Puts the codes, code history and preferences pages in the main window's
// slots, routes their jumps through its side bar (so the "PIN" page keeps its
// password gate) and adds "Preferencias..." to the "Sesión" menu.
void InstallPages(MainWindow& window, TaquillaPages& pages);

} // namespace tarvina::server::ui
