# cmake -DSOURCE_DIR=... [-DPRINT=ON] -P CheckLayers.cmake
# The libraries' direction of use, from the #include lines of src/: a folder
# may include headers of the folders below it in this table, never of one
# above. Run at every build (target quorvane_layers), so that a dependency
# that runs back up does not build. With PRINT, prints the arrows as the code
# has them, one line a folder.
cmake_minimum_required(VERSION 3.25)
set(layers
    "version:"
    "json:"
    "platform:"
    "log:platform version"
    "report:log platform version"
    "serial:platform"
    "instruments:log platform serial version"
    "config:instruments log platform serial version"
    "acquisition:config instruments log platform serial version"
    "publish:acquisition config instruments json log platform serial version"
    "station:publish acquisition config instruments json log platform serial version"
    "app:station publish acquisition config instruments json log platform serial version"
    "cli:report station publish acquisition config instruments json log platform serial version"
    "gui:report app station publish acquisition config instruments json log platform serial version")

set(failures "")
foreach(layer ${layers})
    string(REPLACE ":" ";" parts "${layer}")
    list(GET parts 0 folder)
    set(allowed "")
    list(LENGTH parts count)
    if(count GREATER 1)
        list(GET parts 1 allowed_text)
        string(REPLACE " " ";" allowed "${allowed_text}")
    endif()
    file(GLOB_RECURSE sources "${SOURCE_DIR}/src/${folder}/*.h" "${SOURCE_DIR}/src/${folder}/*.cpp")
    set(used "")
    foreach(source ${sources})
        file(STRINGS "${source}" includes REGEX "^#include \"[a-z_]+/")
        foreach(line ${includes})
            string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" target "${line}")
            if(target STREQUAL folder)
                continue()
            endif()
            list(APPEND used ${target})
            if(NOT target IN_LIST allowed)
                file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
                string(APPEND failures "  ${name} includes ${target}/, above ${folder}/\n")
            endif()
        endforeach()
    endforeach()
    if(PRINT)
        list(REMOVE_DUPLICATES used)
        list(SORT used)
        string(REPLACE ";" ", " used_text "${used}")
        message("${folder} -> ${used_text}")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "A library uses one above it (see cmake/CheckLayers.cmake):\n${failures}")
endif()
