#include "server/session/ComputerActions.h"

#include "server/computers/Senders.h"
#include "server/session/ViewRules.h"

namespace tarvina::server {

namespace {

using A = ComputerAction;
using Facts = ActionFacts;
using Call = ActionCall;

// The rules. A station is told apart by its state and, for the remote
// commands, by its version: texts compare ordinally with the oldest version
// that takes them, as the stations have always been told apart.

bool Locked(const Facts& f) {
    return f.state == 1 || f.state == 4;
}
bool Waiting(const Facts& f) {
    return f.state == 4;
}
bool InUse(const Facts& f) {
    return f.state == 2;
}
bool Connected(const Facts& f) {
    return f.connected();
}
bool HasMessages(const Facts& f) {
    return f.hasMessages;
}
// A notice reaches the rows in use among many, or the one in use.
bool NoticeFits(const Facts& f) {
    return f.state == 2 || f.rowCount > 1;
}
bool TakesPassword(const Facts& f) {
    return f.connected() && f.knownVersion && f.versionOrder >= 0;
}
// Commands of one station at a time, newer than the oldest version.
bool TakesRemote(const Facts& f) {
    return f.single && f.connected() && f.knownVersion && f.versionOrder > 0;
}
bool TakesClientLog(const Facts& f) {
    return f.single && f.connected() && f.knownVersion && f.versionNumber > kClientLogVersion;
}
bool Always(const Facts&) {
    return true;
}
bool Owes(const Facts& f) {
    return f.single && f.amountDue > 0;
}

// What each action does with the selection.

void RunGrant(const Call& c) {
    c.commands.grant(
        c.rows, [&c](TCompItem* r) { return c.prompts.askGrant(c.commands.displayName(r)); },
        [&c](const QString& text) { c.prompts.grantRefused(text); });
}
void RunWithdraw(const Call& c) {
    c.commands.withdraw(c.rows);
}
void RunMoreTime(const Call& c) {
    c.commands.moreTime(c.rows, [&c](TCompItem*) { return c.prompts.askMoreTime(); });
}
void RunLock(const Call& c) {
    c.commands.lock(c.rows);
}
void RunMove(const Call& c) {
    if (TCompItem* target = c.prompts.askMoveTarget(c.commands.moveTargets()))
        c.commands.move(c.rows, target);
}
void RunRefresh(const Call& c) {
    c.commands.refresh(c.rows);
}
void RunRestart(const Call& c) {
    if (const auto answer = c.prompts.askShutdown())
        c.commands.shutdown(c.rows, answer->first, answer->second);
}
void RunNotice(const Call& c) {
    if (const auto text = c.prompts.askNotice())
        c.commands.notice(c.rows, *text);
}
void RunViewMessages(const Call& c) {
    c.prompts.showText(c.commands.takeMessages(c.first()));
}
void RunServicePassword(const Call& c) {
    if (const auto password = c.prompts.askServicePassword())
        c.commands.servicePassword(c.rows, *password);
}
void RunVolume(const Call& c) {
    // The station answers with its volume; the window opens then.
    QueryVolume(c.ctx, c.first());
}
void RunProgram(const Call& c) {
    c.prompts.openRun(c.first(), c.commands.displayName(c.first()));
}
void RunClientLog(const Call& c) {
    c.prompts.openClientLog(c.commands.requestClientLog(c.rows));
}
void RunUsageHistory(const Call& c) {
    c.prompts.showText(c.commands.history(c.first()));
}
template <A::Id id> void HandOver(const Call& c) {
    c.prompts.handOver(id, c.rows);
}

constexpr std::array<ComputerAction, A::Count> kActions = {{
    {A::Grant, u"Autorizar uso...", u"Permite el uso de un computador al usuario", Locked,
     RunGrant},
    {A::Withdraw, u"Desautorizar uso", u"Anula el proceso de acceso a un usuario", Waiting,
     RunWithdraw},
    {A::MoreTime, u"Otorgar más tiempo...", u"Agrega más tiempo a la sesion de navegación actual",
     InUse, RunMoreTime},
    {A::Lock, u"Bloquear", u"Da por terminado el uso de un computador", InUse, RunLock},
    {A::Move, u"Mover usuario...", u"Traslada un usuario de un computador a otro", InUse, RunMove},
    {A::Refresh, u"Refrescar información",
     u"Actualiza la información del computador remoto  (conexión, hora, estado)", Connected,
     RunRefresh},
    {A::Restart, u"Reiniciar computador...", u"Reinicia el computador seleccionado", Connected,
     RunRestart},
    {A::Capture, u"Capturar pantalla...", u"Muestra una pantalla capturada del computador remoto",
     InUse, HandOver<A::Capture>},
    {A::Tasks, u"Ver tareas...", u"Lista las tareas en ejecución en el computador remoto",
     Connected, HandOver<A::Tasks>},
    {A::CleanTasks, u"Limpiar tareas",
     u"Elimina las tareas que iniciaron luego de la primera autorización del computador "
     u"hoy\r\n(sea cuidadoso, este proceso es irreversible)",
     Connected, HandOver<A::CleanTasks>},
    {A::SendMessage, u"Enviar mensaje al usuario...",
     u"Envía un mensaje al usuario en el computador remoto", NoticeFits, RunNotice},
    {A::ViewMessages, u"Ver mensajes recibidos...",
     u"Muestra los mensajes enviados por el usuario desde el computador remoto", HasMessages,
     RunViewMessages},
    {A::ServicePassword, u"Cambiar contraseña del programa cliente...",
     u"Permite cambiar la contraseña utilizada para administrar el programa cliente", TakesPassword,
     RunServicePassword},
    {A::RemoteConfig, u"Configuración remota...",
     u"Permite configurar varios aspectos del programa cliente", TakesRemote,
     HandOver<A::RemoteConfig>},
    {A::Volume, u"Volumen del sonido...",
     u"Aumenta o diminuye el volumen del sonido en el computador remoto", TakesRemote, RunVolume},
    {A::Run, u"Ejecutar programa...", u"Ejecuta un programa en el computador remoto", TakesRemote,
     RunProgram},
    {A::ClientLog, u"Obtiene bitácora de fallas de cliente", nullptr, TakesClientLog, RunClientLog},
    {A::UsageHistory, u"Ver bitácora de uso...", nullptr, Always, RunUsageHistory},
    {A::Collect, u"Cobrar...", u"Cobra al cliente lo que debe el computador", Owes,
     HandOver<A::Collect>},
}};

// Indexed by Id: each entry stands at its own place.
constexpr bool InIdOrder(const std::array<ComputerAction, A::Count>& table) {
    for (int i = 0; i < A::Count; ++i)
        if (table[i].id != i)
            return false;
    return true;
}
static_assert(InIdOrder(kActions));

} // namespace

const std::array<ComputerAction, ComputerAction::Count>& ComputerActions() {
    return kActions;
}

const ComputerAction& ComputerActionOf(ComputerAction::Id id) {
    return kActions[id];
}

} // namespace tarvina::server
