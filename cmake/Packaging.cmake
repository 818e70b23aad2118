# Install rules: what the Debian packages carry and where (scripts/package
# builds them with dpkg-buildpackage from these rules). Per-user state is not
# installed: each program makes its folders under the XDG places at its
# first start.
include(GNUInstallDirs)

if(TARGET taquilla)
    install(TARGETS taquilla RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES data/tarvina-taquilla.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/icons/tarvina-taquilla.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES data/man/taquilla.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(TARGET puesto)
    install(TARGETS puesto RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES data/tarvina-puesto.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/icons/tarvina-puesto.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES data/man/puesto.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # What only the system can switch off for the lock: the X server's
    # console switch and kill keys, and the mounting of hidden drives.
    install(FILES data/xorg/50-tarvina.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/X11/xorg.conf.d)
    install(FILES data/udev/90-tarvina-hidden-drives.rules DESTINATION lib/udev/rules.d)
    install(FILES data/polkit/50-tarvina-puesto.rules
            DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/rules.d)
endif()

if(TARGET tarvina-guardian)
    # A helper of puesto's, started by systemd, not by people: no man page
    # of its own, puesto(1) describes it.
    install(TARGETS tarvina-guardian RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tarvina)
    install(FILES data/systemd/tarvina-guardian.service DESTINATION lib/systemd/user)
endif()

if(TARGET tarvina-modelo)
    # Run by puesto through pkexec only; polkit's action names its path.
    install(TARGETS tarvina-modelo RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tarvina)
    install(FILES data/polkit/org.tarvina.puesto.policy
            DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
endif()
