# Fails when a source file under SOURCE_DIR includes a header of a folder its
# library must not depend on: dependencies point down only (ui -> logic ->
# platform -> common; widgets, the windows both programs lay out alike, sit
# under both ui libraries and include nothing of ours), and a header cycle
# between two libraries would hide in static libraries until some program
# linked them in the wrong order.
#
#   cmake -DSOURCE_DIR=<src> -P CheckLayering.cmake
#
# The back ends of the operating system (platform/linux) are chosen by the
# programs, the tools and the tests, which are not checked here: below them
# only the back ends themselves and the toolkit's composition of them
# (platform/gui) include them; everything else sees the interfaces.
#
# Each rule: folder | folders it may include | folders below those it may not.
# The rule of the longest matching folder applies; a folder without a rule
# fails, so a new library states its place here.
#
# Inside a program's library the sub-folders are layers too: each order lists
# them from the bottom up, and a file may include its own layer and those
# listed before it, never one after it. Files directly in the program's folder
# sit above every layer but ui. A sub-folder missing from its program's order
# fails, like a folder without a rule.
cmake_minimum_required(VERSION 3.25)

set(rules
    "protocol|protocol|"
    "common|common|"
    "xbase|xbase|"
    "platform|platform,common|platform/gui,platform/linux"
    "platform/linux|platform,common|platform/gui"
    "platform/gui|platform,common|"
    "server|server,platform,protocol,common,xbase|server/ui,platform/gui,platform/linux"
    "server/ui|server,platform,protocol,common,xbase,widgets|platform/linux"
    "client|client,platform,protocol,common|client/ui,platform/gui,platform/linux"
    "client/ui|client,platform,protocol,common,widgets|platform/linux"
    "widgets|widgets|"
)
set(layers
    "server|settings,net,computers,remote,session,pin,central,dialogs,shell,ui"
    "client|station,link,session,config,control,commands,ui"
)

# The height of a path's layer in its program's order (twice its position):
# -1 when the path is not inside a program with an order, just below ui for
# files directly in the program's folder, -2 for a sub-folder the order does
# not name.
function(_layer path programOut indexOut)
    set(${programOut} "" PARENT_SCOPE)
    set(${indexOut} -1 PARENT_SCOPE)
    foreach(entry IN LISTS layers)
        string(REPLACE "|" ";" parts "${entry}")
        list(GET parts 0 program)
        list(GET parts 1 order)
        string(REPLACE "," ";" order "${order}")
        _under("${path}" "${program}" hit)
        if(NOT hit)
            continue()
        endif()
        set(${programOut} "${program}" PARENT_SCOPE)
        if(path STREQUAL program)
            list(FIND order "ui" ui)
            if(ui EQUAL -1)
                list(LENGTH order ui)
            endif()
            math(EXPR height "2 * ${ui} - 1")
            set(${indexOut} ${height} PARENT_SCOPE)
            return()
        endif()
        string(LENGTH "${program}/" n)
        string(SUBSTRING "${path}" ${n} -1 rest)
        string(REGEX REPLACE "/.*$" "" sub "${rest}")
        list(FIND order "${sub}" i)
        if(i EQUAL -1)
            set(${indexOut} -2 PARENT_SCOPE)
        else()
            math(EXPR height "2 * ${i}")
            set(${indexOut} ${height} PARENT_SCOPE)
        endif()
        return()
    endforeach()
endfunction()

if(NOT SOURCE_DIR OR NOT IS_DIRECTORY "${SOURCE_DIR}")
    message(FATAL_ERROR "CheckLayering: SOURCE_DIR is not a folder: '${SOURCE_DIR}'")
endif()

# True when path is folder itself or lies under it.
function(_under path folder out)
    string(LENGTH "${folder}/" n)
    string(SUBSTRING "${path}/" 0 ${n} head)
    if(head STREQUAL "${folder}/")
        set(${out} TRUE PARENT_SCOPE)
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
list(SORT files)
set(faults "")
set(checked 0)
foreach(file IN LISTS files)
    get_filename_component(folder "${file}" DIRECTORY)
    set(best "")
    set(bestLength -1)
    foreach(rule IN LISTS rules)
        string(REPLACE "|" ";" parts "${rule}")
        list(GET parts 0 ruleFolder)
        _under("${folder}" "${ruleFolder}" hit)
        string(LENGTH "${ruleFolder}" len)
        if(hit AND len GREATER bestLength)
            set(best "${rule}")
            set(bestLength ${len})
        endif()
    endforeach()
    if(best STREQUAL "")
        string(APPEND faults "  ${file}: its folder has no layering rule\n")
        continue()
    endif()
    _layer("${folder}" fileProgram fileLayer)
    if(fileLayer EQUAL -2)
        string(APPEND faults "  ${file}: its folder is not in its program's order of layers\n")
        continue()
    endif()
    string(REPLACE "|" ";" parts "${best}")
    list(GET parts 1 allowed)
    list(GET parts 2 denied)
    string(REPLACE "," ";" allowed "${allowed}")
    string(REPLACE "," ";" denied "${denied}")

    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
        get_filename_component(headerFolder "${header}" DIRECTORY)
        if(headerFolder STREQUAL "")
            continue() # beside the file itself
        endif()
        math(EXPR checked "${checked} + 1")
        set(ok FALSE)
        foreach(a IN LISTS allowed)
            _under("${headerFolder}" "${a}" hit)
            if(hit)
                set(ok TRUE)
            endif()
        endforeach()
        foreach(d IN LISTS denied)
            _under("${headerFolder}" "${d}" hit)
            if(hit)
                set(ok FALSE)
            endif()
        endforeach()
        if(ok AND NOT fileProgram STREQUAL "")
            _layer("${headerFolder}" headerProgram headerLayer)
            if(headerProgram STREQUAL fileProgram AND
               (headerLayer EQUAL -2 OR headerLayer GREATER fileLayer))
                set(ok FALSE)
            endif()
        endif()
        if(NOT ok)
            string(APPEND faults "  ${file} includes \"${header}\"\n")
        endif()
    endforeach()
endforeach()

if(NOT faults STREQUAL "")
    message(FATAL_ERROR "Includes against the libraries' layering:\n${faults}")
endif()
if(checked EQUAL 0)
    message(FATAL_ERROR "CheckLayering: no include found under ${SOURCE_DIR}")
endif()
message(STATUS "Layering holds: ${checked} includes checked")
