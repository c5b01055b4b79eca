# Checks the built VEZIVADU.dll with objdump: a PE32 i386 DLL that exports
# exactly VpiMain at ordinal 1 and imports from KERNEL32.dll, msvcrt.dll and
# BELTOR.dll only.
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<path> -P check_dll.cmake
if(NOT OBJDUMP OR NOT DLL)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DDLL=... -P check_dll.cmake")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${errors}")
endif()

set(failures "")
# report(<variable> <text>): PASS when the variable holds a true value.
macro(report variable text)
  if(${variable})
    message(STATUS "PASS: ${text}")
  else()
    message(STATUS "FAIL: ${text}")
    list(APPEND failures "${text}")
  endif()
endmacro()

string(REGEX MATCH "file format pei-i386\n" pei "${dump}")
report(pei "file format pei-i386")
string(REGEX MATCH "Magic[ \t]+010b[ \t]+\\(PE32\\)" pe32 "${dump}")
report(pe32 "optional header magic 010b (PE32)")
string(REGEX MATCH "Characteristics 0x[0-9a-fA-F]+\n([ \t]+[^\n]+\n)*[ \t]+DLL\n" dllflag "${dump}")
report(dllflag "characteristics include DLL")

# Imported DLLs, in any letter case as the linker wrote them.
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(imports "")
foreach(name IN LISTS names)
  string(REGEX REPLACE "DLL Name: ([^ \t\r]+).*" "\\1" name "${name}")
  string(TOUPPER "${name}" name)
  list(APPEND imports "${name}")
endforeach()
list(SORT imports)
string(JOIN " " import_text ${imports})
set(only_allowed FALSE)
if(import_text STREQUAL "BELTOR.DLL KERNEL32.DLL MSVCRT.DLL")
  set(only_allowed TRUE)
endif()
report(only_allowed "imports exactly KERNEL32.dll, msvcrt.dll and BELTOR.dll (found ${import_text})")
string(REGEX MATCH "DLL Name: BELTOR.dll\n[^\n]*\n[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+err\n\n" err_import "${dump}")
report(err_import "BELTOR.dll supplies err alone, by name")

# Exports: one address, one name, ordinal base 1.
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)\n" _ "${dump}")
set(address_count "${CMAKE_MATCH_1}")
string(REGEX MATCH "\\[Name Pointer/Ordinal\\] Table[ \t]+([0-9a-fA-F]+)\n" _ "${dump}")
set(name_count "${CMAKE_MATCH_1}")
set(one_address FALSE)
if(address_count STREQUAL "00000001")
  set(one_address TRUE)
endif()
set(one_name FALSE)
if(name_count STREQUAL "00000001")
  set(one_name TRUE)
endif()
report(one_address "one export address (found ${address_count})")
report(one_name "one export name (found ${name_count})")
string(REGEX MATCH "Ordinal Base 1\n[ \t]+\\[ +0\\] \\+base\\[ +1\\] [0-9a-f]+ Export RVA\n" ordinal "${dump}")
report(ordinal "the export has ordinal 1")
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n[ \t]+\\[ +[01]\\] VpiMain\n\n" name "${dump}")
report(name "the one export name is VpiMain, undecorated")

if(failures)
  message(FATAL_ERROR "VEZIVADU.dll check failed: ${failures}")
endif()
message(STATUS "VEZIVADU.dll check passed")
