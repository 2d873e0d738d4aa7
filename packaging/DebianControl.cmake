# Reads debian/control, so that the Debian source package and the CPack packages share one set of
# names, descriptions and relations: what is changed there reaches both.
#
# qd7_read_debian_control(FILE) sets, in the caller's scope:
#   QD7_DEB_MAINTAINER, QD7_DEB_HOMEPAGE           from the source paragraph (empty when absent)
#   QD7_DEB_PACKAGES                               the binary packages' names
#   QD7_DEB_<name>_<FIELD> for each of them        FIELD: SECTION, DEPENDS, RECOMMENDS, SUGGESTS,
#                                                  DESCRIPTION (the summary, a line break and
#                                                  the long text, paragraphs apart by an empty line)
# Relations keep what dpkg-gencontrol would write, less the substitution variables (${shlibs:Depends}
# and the like), which CPack fills in by its own means.

function(qd7_control_field paragraph field out)
    # A field runs from "Name:" to the next line that does not start with a space or a tab.
    if("${paragraph}" MATCHES "(^|\n)${field}:[ \t]*([^\n]*(\n[ \t][^\n]*)*)")
        set(${out} "${CMAKE_MATCH_2}" PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

# A relation field as one line: folded, without substitution variables, without a trailing comma.
function(qd7_control_relations text out)
    string(REGEX REPLACE "[ \t]*\n[ \t]*" " " text "${text}")
    string(REGEX REPLACE "\\\${[^}]*}[ \t]*,?[ \t]*" "" text "${text}")
    string(REGEX REPLACE "[ \t,]+$" "" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(qd7_read_debian_control file)
    file(READ ${file} text)
    if(text MATCHES ";")
        # CMake lists are separated by semicolons; the paragraphs are split into one below.
        message(FATAL_ERROR "${file}: a semicolon cannot be read here; write the text without one")
    endif()
    string(REGEX REPLACE "(^|\n)#[^\n]*" "" text "${text}")
    string(REGEX REPLACE "\n[ \t]*\n" ";" paragraphs "${text}")
    set(packages)
    foreach(paragraph IN LISTS paragraphs)
        qd7_control_field("${paragraph}" Source source)
        qd7_control_field("${paragraph}" Package package)
        if(source)
            qd7_control_field("${paragraph}" Maintainer maintainer)
            qd7_control_field("${paragraph}" Homepage homepage)
            qd7_control_field("${paragraph}" Section default_section)
            set(QD7_DEB_MAINTAINER "${maintainer}" PARENT_SCOPE)
            set(QD7_DEB_HOMEPAGE "${homepage}" PARENT_SCOPE)
        elseif(package)
            list(APPEND packages ${package})
            qd7_control_field("${paragraph}" Section section)
            if(NOT section)
                set(section "${default_section}")
            endif()
            set(QD7_DEB_${package}_SECTION "${section}" PARENT_SCOPE)
            foreach(relation Depends Recommends Suggests)
                qd7_control_field("${paragraph}" ${relation} value)
                qd7_control_relations("${value}" value)
                string(TOUPPER ${relation} key)
                set(QD7_DEB_${package}_${key} "${value}" PARENT_SCOPE)
            endforeach()
            # The summary line, then the long text with the control file's indentation taken off
            # and " ." turned back into the empty line between paragraphs, as CPack wants it.
            qd7_control_field("${paragraph}" Description description)
            string(REGEX REPLACE "\n[ \t]\\.(\n|$)" "\n\n" description "${description}")
            string(REGEX REPLACE "\n[ \t]" "\n" description "${description}")
            set(QD7_DEB_${package}_DESCRIPTION "${description}" PARENT_SCOPE)
        endif()
    endforeach()
    if(NOT packages)
        message(FATAL_ERROR "${file}: no binary package found")
    endif()
    set(QD7_DEB_PACKAGES "${packages}" PARENT_SCOPE)
endfunction()
