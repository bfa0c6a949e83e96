# Makes one manual page from a program's --help and --version (cmake -P):
#   -DHELP2MAN=... -DPROGRAM=<executable> -DNAME=<NAME line> -DPAGE=<out.1> -DDATE=YYYY-MM-DD
#   -DGZIP=...
# help2man dates the page with the month's name ("December 2026"), which manual readers such
# as mandoc cannot parse: the page gets the release date in ISO form instead. The page is then
# compressed as Debian wants it (gzip -9n, no timestamp). Text lines longer than 80 bytes are
# folded at spaces (roff fills them again, so the page reads the same), keeping the source
# lines as short as the manual checkers want them.
execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${NAME} --output=${PAGE} ${PROGRAM}
    COMMAND_ERROR_IS_FATAL ANY)
file(READ ${PAGE} text)
string(REGEX REPLACE "(\n\\.TH [^ ]+ \"1\") \"[^\"]*\"" "\\1 \"${DATE}\"" text "\n${text}")
string(SUBSTRING "${text}" 1 -1 text)
# Lines as a list: the page's own semicolons and brackets are kept out of the list syntax by
# one-byte stand-ins, so lengths stay those of the page.
string(ASCII 1 semicolon)
string(ASCII 2 open)
string(ASCII 3 close)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open}" text "${text}")
string(REPLACE "]" "${close}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(folded "")
foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(length LESS_EQUAL 80 OR line MATCHES "^[.']")
        string(APPEND folded "${line}\n")
        continue()
    endif()
    string(REPLACE " " ";" words "${line}")
    set(out "")
    foreach(word IN LISTS words)
        if(out STREQUAL "")
            set(out "${word}")
            continue()
        endif()
        string(LENGTH "${out} ${word}" length)
        if(length GREATER 80)
            string(APPEND folded "${out}\n")
            # A line of its own that starts like a request is protected as text.
            if(word MATCHES "^[.']")
                set(word "\\&${word}")
            endif()
            set(out "${word}")
        else()
            string(APPEND out " ${word}")
        endif()
    endforeach()
    string(APPEND folded "${out}\n")
endforeach()
string(REGEX REPLACE "\n$" "" folded "${folded}")
set(text "${folded}")
string(REPLACE "${semicolon}" ";" text "${text}")
string(REPLACE "${open}" "[" text "${text}")
string(REPLACE "${close}" "]" text "${text}")
file(WRITE ${PAGE} "${text}")
execute_process(COMMAND ${GZIP} -9n -f ${PAGE} COMMAND_ERROR_IS_FATAL ANY)
