# Writes a man page from a program's --help text:
#   cmake -DPROGRAM=path -DNAME=name -DVERSION=x.y.z -DOUTPUT=file.1 -P ManPage.cmake
set(ENV{QT_QPA_PLATFORM} offscreen)
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${result})")
endif()
string(REGEX REPLACE "^Usage: [^ ]+" "Usage: ${NAME}" help "${help}")
# The help's second line says what the program is.
string(REGEX MATCH "^[^\n]*\n([^\n]*)" line "${help}")
set(summary "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^[A-Za-z-]+: " "" summary "${summary}")
# roff: backslashes doubled, a line starting with a dot or quote kept as text.
string(REPLACE "\\" "\\\\" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" title)
file(WRITE "${OUTPUT}"
".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n"
".SH NAME\n${NAME} \\- ${summary}\n"
".SH SYNOPSIS\n.B ${NAME}\n[options]\n"
".SH OPTIONS\n.nf\n${help}.fi\n")
