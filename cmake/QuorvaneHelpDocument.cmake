# The operating instructions that Help > Operating Instructions opens,
# "QuorvaneHelpV<version>.doc": the README's chapters for a station (from
# "Install on a station" up to "Building by hand"), made by pandoc into a
# word-processor document. It is RTF inside, which WordPad, Word and
# LibreOffice all open under the .doc name the menu looks for; the README's
# pictures are embedded. Built by the target `quorvane-help` (part of `all`)
# beside the programs' build folders, and shipped in the .deb's documentation
# folder and at the top of the Windows zip.
find_program(QUORVANE_PANDOC pandoc REQUIRED)

set(QUORVANE_HELP_NAME "QuorvaneHelpV${PROJECT_VERSION}.doc")
set(QUORVANE_HELP_FILE "${PROJECT_BINARY_DIR}/${QUORVANE_HELP_NAME}")
set(QUORVANE_HELP_TEXT "${PROJECT_BINARY_DIR}/operating-instructions.md")

add_custom_command(
    OUTPUT ${QUORVANE_HELP_FILE}
    COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
        -DOUTPUT=${QUORVANE_HELP_TEXT} -DVERSION=${PROJECT_VERSION}
        -P ${PROJECT_SOURCE_DIR}/cmake/operating-instructions.cmake
    COMMAND ${QUORVANE_PANDOC} --standalone --from=gfm --to=rtf
        --resource-path=${PROJECT_SOURCE_DIR} --output=${QUORVANE_HELP_FILE}
        ${QUORVANE_HELP_TEXT}
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/operating-instructions.cmake
        ${PROJECT_SOURCE_DIR}/docs/status-page.png ${PROJECT_SOURCE_DIR}/docs/windows-window.png
        ${PROJECT_SOURCE_DIR}/docs/report-example.png
    COMMENT "Operating instructions ${QUORVANE_HELP_NAME} (pandoc)"
    VERBATIM)
add_custom_target(quorvane-help ALL DEPENDS ${QUORVANE_HELP_FILE})

if(WIN32)
    install(FILES ${QUORVANE_HELP_FILE} DESTINATION .)
else()
    include(GNUInstallDirs)
    install(FILES ${QUORVANE_HELP_FILE}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvane)
endif()
