# cmake -DREADME=... -DOUTPUT=... -DVERSION=... -P operating-instructions.cmake
# Cuts the station chapters out of the README for the operating instructions:
# everything from "## Install on a station" up to "## Building by hand" (the
# developers' part), under a title of its own.
file(READ "${README}" readme)
string(FIND "${readme}" "\n## Install on a station\n" first)
string(FIND "${readme}" "\n## Building by hand\n" last)
if(first EQUAL -1 OR last EQUAL -1 OR last LESS first)
    message(FATAL_ERROR "${README}: the chapters \"Install on a station\" to "
        "\"Building by hand\" are not where the operating instructions expect them")
endif()
math(EXPR length "${last} - ${first}")
string(SUBSTRING "${readme}" ${first} ${length} chapters)
file(WRITE "${OUTPUT}" "---\ntitle: Quorvane ${VERSION} Operating Instructions\n---\n${chapters}")
