# Writes OUTPUT, a C++ table of every translation in the .ts files given in TS_FILES
# (a ;-list), so that a program without Qt speaks the same languages from the same
# source as the desktop panel. The language is the file name's suffix: quillo_de.ts is "de".
set(entries "")
foreach(ts IN LISTS TS_FILES)
  get_filename_component(stem ${ts} NAME_WE)
  string(REGEX REPLACE "^.*_" "" language ${stem})
  file(READ ${ts} text)
  # CMake lists split at semicolons and hold brackets together: both are set aside.
  string(REPLACE ";" "@SEMICOLON@" text "${text}")
  string(REPLACE "[" "@OPEN@" text "${text}")
  string(REPLACE "]" "@CLOSE@" text "${text}")
  string(REPLACE "</context>" "</context>;" contexts "${text}")
  foreach(context IN LISTS contexts)
    if(NOT context MATCHES "<name>([^<]*)</name>")
      continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    string(REPLACE "</message>" "</message>;" messages "${context}")
    foreach(message IN LISTS messages)
      if(NOT message MATCHES "<source>([^<]*)</source>")
        continue()
      endif()
      set(source "${CMAKE_MATCH_1}")
      if(NOT message MATCHES "<translation>([^<]*)</translation>")
        continue()
      endif()
      set(translation "${CMAKE_MATCH_1}")
      foreach(var source translation)
        string(REPLACE "@SEMICOLON@" ";" ${var} "${${var}}")
        string(REPLACE "@OPEN@" "[" ${var} "${${var}}")
        string(REPLACE "@CLOSE@" "]" ${var} "${${var}}")
        string(REPLACE "&lt;" "<" ${var} "${${var}}")
        string(REPLACE "&gt;" ">" ${var} "${${var}}")
        string(REPLACE "&quot;" "\"" ${var} "${${var}}")
        string(REPLACE "&apos;" "'" ${var} "${${var}}")
        string(REPLACE "&amp;" "&" ${var} "${${var}}")
        string(REPLACE "\\" "\\\\" ${var} "${${var}}")
        string(REPLACE "\"" "\\\"" ${var} "${${var}}")
      endforeach()
      string(APPEND entries "    {\"${language}\", \"${name}\", \"${source}\", \"${translation}\"},\n")
    endforeach()
  endforeach()
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from the .ts files by embed.cmake; do not edit.
#include \"terminal/Translations.hpp\"

namespace quillo {

const TranslationEntry translationEntries[] = {
${entries}};
const std::size_t translationEntryCount = sizeof translationEntries / sizeof translationEntries[0];

}  // namespace quillo
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
