# Copies text files with Windows line ends (CR LF), for the Windows zip.
# Usage: cmake -DOUTPUT_DIR=dir -DFILES=source|name|source|name... -P crlf_text.cmake
string(REPLACE "|" ";" pairs "${FILES}")
list(LENGTH pairs count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET pairs ${i} source)
  list(GET pairs ${j} name)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUTPUT_DIR}/${name} "${text}")
endforeach()
