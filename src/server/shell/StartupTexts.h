#pragma once

#include <array>

namespace tarvina::server {

// What the splash window shows while the program starts, in order.
struct StartupTexts {
    static constexpr char16_t kLoading[] = u"Cargando sistema de caja";
    static constexpr char16_t kEdition[] = u"Paquete estándar Versión ";
    static constexpr std::array<const char16_t*, 8> kSteps = {
        u"Inicia formulario principal...",
        u"Verifica estructuras...",
        u"Hisotria de pin...",
        u"Estructuras verificadas.",
        u"Inicia formulario de computadores...",
        u"Inicia formulario de usuarios...",
        u"Formulario de captura",
        u"Última etapa de inicio",
    };
    // The splash starts opaque and fades through these (0 to 255) where the
    // window system composes windows.
    static constexpr std::array<int, 11> kOpacity = {230, 220, 210, 190, 180, 160,
                                                     140, 130, 120, 70,  20};

    static constexpr char16_t kCrashWarning[] =
        u"La última vez que se cerró el programa hubo una falla. Se sugiere repara base de "
        u"datos (menú Sesión)";
    static constexpr char16_t kLastActivity[] = u"El último registro de actividad corresponde a ";
};

} // namespace tarvina::server
