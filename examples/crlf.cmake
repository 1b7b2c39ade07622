# Copies IN to OUT with every line ending in CR LF. SDCC ends its lines with a line feed
# alone; Corvade reads HEX files as its kernel's tools write them, with CR LF, and takes a
# file of bare line feeds for one long corrupt line.
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
