# Libraries that only some configurations use are not linked: the program
# opens them by soname when a feature first needs them (see
# src/platform/SharedLibrary.h). linkmoot_optional_library() takes what the
# build needs of one: its headers' flags and its soname, read from the
# development package's library, so the name opened is the one built against.
# Both land on the interface target linkmoot_optional_libraries, as
# LINKMOOT_<PREFIX>_SONAME="libfoo.so.N".
add_library(linkmoot_optional_libraries INTERFACE)

function(linkmoot_optional_library prefix module)
    pkg_check_modules(${prefix} REQUIRED ${module})
    find_library(${prefix}_LIBRARY_FILE NAMES ${${prefix}_LIBRARIES}
                 HINTS ${${prefix}_LIBRARY_DIRS} REQUIRED)
    if(NOT CMAKE_READELF)
        message(FATAL_ERROR "readelf is needed to read the soname of ${module}")
    endif()
    execute_process(COMMAND ${CMAKE_READELF} -d ${${prefix}_LIBRARY_FILE}
                    OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
    if(failed OR NOT dynamic MATCHES "Library soname: \\[([^]]+)\\]")
        message(FATAL_ERROR "No soname in ${${prefix}_LIBRARY_FILE} (${module})")
    endif()
    set(soname ${CMAKE_MATCH_1})
    message(STATUS "${module}: opened at run time as ${soname}")
    target_include_directories(linkmoot_optional_libraries SYSTEM INTERFACE ${${prefix}_INCLUDE_DIRS})
    target_compile_options(linkmoot_optional_libraries INTERFACE ${${prefix}_CFLAGS_OTHER})
    target_compile_definitions(linkmoot_optional_libraries INTERFACE
                               LINKMOOT_${prefix}_SONAME="${soname}")
    set(LINKMOOT_${prefix}_SONAME ${soname} PARENT_SCOPE)
endfunction()
