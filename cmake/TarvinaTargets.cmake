# Helpers shared by every folder: one library per source folder, one test
# program per test folder, each registered in CTest with its label.

# tarvina_add_subdirs(dir1 dir2 ...) adds the listed folders that exist, so a
# folder can land before or after its neighbours without touching this file.
function(tarvina_add_subdirs)
    foreach(dir IN LISTS ARGN)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# tarvina_add_test(NAME name LABELS unit|integration|ui [RESOURCE_LOCK lock]
#                  SOURCES ... LIBS ... [QT_MAIN|GUI_MAIN|X_MAIN] [TIMEOUT seconds])
# QT_MAIN links the shared test main that creates a QCoreApplication, GUI_MAIN
# one with an offscreen QApplication; X_MAIN starts a private Xvfb with
# openbox, a tray and the accessibility bus first (tests/support/XDisplay.h)
# and runs the QApplication on it. X_MAIN tests run one at a time: they share
# the machine's timing with a window manager and the accessibility bus.
function(tarvina_add_test)
    cmake_parse_arguments(T "QT_MAIN;GUI_MAIN;X_MAIN" "NAME;TIMEOUT;RESOURCE_LOCK" "LABELS;SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    if(T_X_MAIN)
        target_link_libraries(${T_NAME} PRIVATE tarvina_test_x_main)
        if(NOT T_RESOURCE_LOCK)
            set(T_RESOURCE_LOCK xdisplay)
        endif()
    elseif(T_GUI_MAIN)
        target_link_libraries(${T_NAME} PRIVATE tarvina_test_gui_main)
    elseif(T_QT_MAIN)
        target_link_libraries(${T_NAME} PRIVATE tarvina_test_main)
    else()
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    # ThreadSanitizer slows the computing tests (tables, sorting) five to
    # fifteen times; their limits grow with it.
    if(TARVINA_TSAN)
        math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
    endif()
    set(props LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    # One environment entry only: PROPERTIES is a key/value list, so a second
    # "A=1;B=2" entry would be split into keys of its own. The programs'
    # folder reaches the tests as a definition instead.
    target_compile_definitions(${T_NAME} PRIVATE
        TARVINA_TEST_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    if(T_RESOURCE_LOCK)
        list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
    # PRE_TEST: test programs are listed when CTest runs them, with CTest's
    # environment, not at build time.
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${props})
endfunction()
