# Writes the Debian changelog of the package from CHANGELOG.md, which stays the one record of
# the versions: each "## VERSION (YYYY-MM-DD HH:MM UTC)" heading starts an entry, its "- "
# lines become "  * " items and their indented continuation lines follow them; any other text
# is left out. The newest version must be the one being built.
#   -D SOURCE=<CHANGELOG.md> -D OUTPUT= -D PACKAGE= -D VERSION= -D MAINTAINER=
cmake_minimum_required(VERSION 3.24)

set(weekdays Sun Mon Tue Wed Thu Fri Sat)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4) # Sakamoto's day-of-week method

# The date in the form Debian's changelog wants, with its day of the week.
function(debian_date out year month day time)
    math(EXPR index "${month} - 1")
    list(GET months ${index} month_name)
    list(GET month_offsets ${index} offset)
    set(y ${year})
    if(month LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
    list(GET weekdays ${weekday} weekday_name)
    set(${out} "${weekday_name}, ${day} ${month_name} ${year} ${time}:00 +0000" PARENT_SCOPE)
endfunction()

file(READ "${SOURCE}" rest)
set(text "")
set(trailer "")
set(versions "")
# Line by line without a CMake list, which would split the text at its semicolons.
while(NOT rest STREQUAL "")
    string(FIND "${rest}" "\n" end)
    if(end EQUAL -1)
        set(line "${rest}")
        set(rest "")
    else()
        string(SUBSTRING "${rest}" 0 ${end} line)
        math(EXPR end "${end} + 1")
        string(SUBSTRING "${rest}" ${end} -1 rest)
    endif()
    if(line MATCHES "^## ([^ ]+) \\(([0-9]+)-([0-9]+)-([0-9]+) ([0-9]+:[0-9]+) UTC\\)$")
        list(APPEND versions "${CMAKE_MATCH_1}")
        debian_date(date "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}"
                    "${CMAKE_MATCH_5}")
        string(APPEND text "${trailer}${PACKAGE} (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
        set(trailer "\n -- ${MAINTAINER}  ${date}\n\n")
    elseif(line MATCHES "^## ")
        message(FATAL_ERROR "${SOURCE}: a version heading not of the form "
                            "'## VERSION (YYYY-MM-DD HH:MM UTC)': ${line}")
    elseif(NOT versions)
        # the title and the text before the first version
    elseif(line MATCHES "^- (.*)$")
        string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +(.*)$")
        string(APPEND text "    ${CMAKE_MATCH_1}\n")
    endif()
endwhile()
set(newest "")
if(versions)
    list(GET versions 0 newest)
endif()
if(NOT newest STREQUAL VERSION)
    message(FATAL_ERROR "${SOURCE} starts with version '${newest}', the project is ${VERSION}")
endif()
string(REGEX REPLACE "\n\n$" "\n" text "${text}${trailer}")
string(REPLACE "`" "" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
