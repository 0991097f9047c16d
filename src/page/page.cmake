# The dashboard page: page.html is the document template, and the style sheet
# and scripts beside it are pulled in at build time by page_embed.cmake, which
# writes them as byte blobs of exact length into a generated source file.
# Sets HULLMON_PAGE_SOURCES for the program target.

set(HULLMON_PAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(HULLMON_PAGE_BLOBS ${PROJECT_BINARY_DIR}/src/page/page_blobs.cpp)
set(HULLMON_PAGE_ASSETS
    ${HULLMON_PAGE_DIR}/page.html
    ${HULLMON_PAGE_DIR}/back_link.html
    ${HULLMON_PAGE_DIR}/page.css
    ${HULLMON_PAGE_DIR}/theme_early.js
    ${HULLMON_PAGE_DIR}/theme_bridge.js
    ${HULLMON_PAGE_DIR}/client.js)

add_custom_command(
    OUTPUT ${HULLMON_PAGE_BLOBS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/src/page
    COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${HULLMON_PAGE_DIR} -DOUT=${HULLMON_PAGE_BLOBS}
            -DVERSION=${PROJECT_VERSION} -P ${HULLMON_PAGE_DIR}/page_embed.cmake
    DEPENDS ${HULLMON_PAGE_ASSETS} ${HULLMON_PAGE_DIR}/page_embed.cmake ${PROJECT_SOURCE_DIR}/CMakeLists.txt
    COMMENT "Embedding the dashboard page"
    VERBATIM)

set(HULLMON_PAGE_SOURCES
    ${HULLMON_PAGE_DIR}/page.cpp
    ${HULLMON_PAGE_BLOBS})
