# Which headers a target offers, and to whom: the build states the layers.
#
# Includes are spelled from the project's root ("protocol/FrameCodec.h"), yet no library has the
# root on its include path: from there it could reach every folder, the window's and Qt's users
# included. Each target gets include folders of its own in the build tree instead, holding one
# forwarding header for each header it lists and nothing else: a PUBLIC folder for the target and
# every target that links it, a PRIVATE one for the target alone (INTERFACE for a header-only
# target). An include of a header that no linked target offers therefore fails to compile, so
# target_link_libraries says which layer may use which, and the compiler holds to it.
#
#   qd7_target_headers(<target> [PUBLIC <header>...] [PRIVATE <header>...] [INTERFACE <header>...])
#
# Headers are named relative to the calling folder; one call per target. The headers also become
# sources of the target, for IDEs and for Qt's moc.

# The project's root, from which includes are spelled; this file lives in its cmake/ folder, so
# the stand-alone fuzz build finds it too.
get_filename_component(QD7_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(QD7_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

function(qd7_target_headers target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "PUBLIC;PRIVATE;INTERFACE")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "qd7_target_headers(${target}): no scope for ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    get_target_property(done ${target} QD7_HEADERS_LISTED)
    if(done)
        message(FATAL_ERROR "qd7_target_headers(${target}): called twice; list them all at once")
    endif()
    set_target_properties(${target} PROPERTIES QD7_HEADERS_LISTED ON)

    foreach(scope PUBLIC PRIVATE INTERFACE)
        string(TOLOWER ${scope} folder)
        set(root ${QD7_INCLUDE_ROOT}/${target}/${folder})
        set(spelled_all)
        foreach(header ${ARG_${scope}})
            get_filename_component(source ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
            if(NOT EXISTS ${source})
                message(FATAL_ERROR "qd7_target_headers(${target}): ${source} does not exist")
            endif()
            file(RELATIVE_PATH spelled ${QD7_SOURCE_ROOT} ${source})
            # Written only when it changes, so that a new configure rebuilds nothing.
            file(CONFIGURE OUTPUT ${root}/${spelled} CONTENT "#include \"${source}\"\n" @ONLY)
            list(APPEND spelled_all ${spelled})
            if(NOT scope STREQUAL "INTERFACE")
                target_sources(${target} PRIVATE ${source})
            endif()
        endforeach()
        # A header no longer listed loses its forwarder, so that its users fail to build at once
        # rather than after the next clean build.
        set(manifest ${QD7_INCLUDE_ROOT}/${target}/${folder}.list)
        if(EXISTS ${manifest})
            file(STRINGS ${manifest} before)
            foreach(old ${before})
                if(NOT old IN_LIST spelled_all)
                    file(REMOVE ${root}/${old})
                endif()
            endforeach()
        endif()
        string(REPLACE ";" "\n" lines "${spelled_all}")
        file(CONFIGURE OUTPUT ${manifest} CONTENT "${lines}\n" @ONLY)
        if(spelled_all)
            target_include_directories(${target} ${scope} ${root})
        endif()
    endforeach()
endfunction()
