# Writes a C++ source that holds a file's bytes, for files the program carries in itself.
#   cmake -DINPUT=FILE -DOUTPUT=SOURCE -DFUNCTION=NAME [-DSTYLE=CSS -DSCRIPT=JS] -P Embed.cmake
# defines `std::string_view NAME()`. With STYLE and SCRIPT, INPUT is a page whose markers
# /*STYLE*/ and /*SCRIPT*/ take those files' text, and NAMEStyleSource() and
# NAMEScriptSource() give the Content-Security-Policy sources ('sha256-...') that allow
# exactly its inline style and script and nothing else.

# Replaces the first `marker` in `text` by the file `file`'s text; the marker must be there.
function(put_in text_var marker file)
  string(FIND "${${text_var}}" "${marker}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${INPUT} has no ${marker} to put ${file} in")
  endif()
  file(READ "${file}" inserted)
  string(LENGTH "${marker}" marker_length)
  string(SUBSTRING "${${text_var}}" 0 ${at} before)
  math(EXPR after_at "${at} + ${marker_length}")
  string(SUBSTRING "${${text_var}}" ${after_at} -1 after)
  set(${text_var} "${before}${inserted}${after}" PARENT_SCOPE)
endfunction()

# Hex digits to base64, three bytes at a time.
function(hex_to_base64 hex out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" length)
  set(result "")
  set(i 0)
  while(i LESS length)
    string(SUBSTRING "${hex}" ${i} 6 group)
    string(LENGTH "${group}" group_length)
    string(SUBSTRING "${group}000000" 0 6 group)
    math(EXPR value "0x${group}")
    math(EXPR kept "${group_length} * 2 / 3 + 1")  # 6 digits: 4 characters, 4: 3, 2: 2
    set(n 0)
    foreach(shift 18 12 6 0)
      if(n LESS kept)
        math(EXPR index "(${value} >> ${shift}) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 character)
        string(APPEND result "${character}")
      else()
        string(APPEND result "=")
      endif()
      math(EXPR n "${n} + 1")
    endforeach()
    math(EXPR i "${i} + 6")
  endwhile()
  set(${out_var} "${result}" PARENT_SCOPE)
endfunction()

# The CSP source of the text between the first `open` tag and the `close` tag after it.
function(element_source text open close out_var)
  string(FIND "${text}" "${open}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${INPUT} has no ${open}")
  endif()
  string(LENGTH "${open}" open_length)
  math(EXPR start "${start} + ${open_length}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "${close}" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "${INPUT} has no ${close}")
  endif()
  string(SUBSTRING "${rest}" 0 ${end} content)
  string(SHA256 digest "${content}")
  hex_to_base64(${digest} base64)
  set(${out_var} "'sha256-${base64}'" PARENT_SCOPE)
endfunction()

file(READ "${INPUT}" text)
set(extra "")
if(DEFINED STYLE)
  put_in(text "/*STYLE*/" "${STYLE}")
  put_in(text "/*SCRIPT*/" "${SCRIPT}")
  # A browser reads every line end of a page as LF and hashes what it read.
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\r" "\n" text "${text}")
  element_source("${text}" "<style>" "</style>" style_source)
  element_source("${text}" "<script>" "</script>" script_source)
  string(APPEND extra "\nstd::string_view ${FUNCTION}StyleSource() { return \"${style_source}\"; }\n"
    "std::string_view ${FUNCTION}ScriptSource() { return \"${script_source}\"; }\n")
endif()

string(HEX "${text}" hex)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Lines of 32 bytes, for a compiler's and a reader's sake.
string(REGEX REPLACE "((0x..,){32})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
  "// Made by cmake/Embed.cmake from ${INPUT}: do not edit.\n"
  "#include <string_view>\n\n"
  "namespace {\n\n"
  "// The bytes, and a 0 that keeps the array from being empty.\n"
  "constexpr unsigned char Bytes[] = {\n    ${bytes}0};\n\n"
  "}  // namespace\n\n"
  "std::string_view ${FUNCTION}() { return {reinterpret_cast<const char*>(Bytes), sizeof Bytes - 1}; }\n"
  "${extra}")
# Only a changed source is compiled again.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
