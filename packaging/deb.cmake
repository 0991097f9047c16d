# The Debian package (make deb, packaging/deb.sh): the program at
# /usr/lib/cgi-bin/hullmon, where Apache's stock serve-cgi-bin.conf serves
# it as /cgi-bin/hullmon; the guides under /usr/share/doc/hullmon/ with the
# tested site files as examples; the copyright and changelog Debian asks
# for. The version is the one of project(), here as everywhere.

set(HULLMON_DOC share/doc/hullmon)
set(HULLMON_DOCS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/DEPLOY.md)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/SECURITY.md)
  list(APPEND HULLMON_DOCS ${PROJECT_SOURCE_DIR}/docs/SECURITY.md)
endif()
install(FILES ${HULLMON_DOCS} ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${HULLMON_DOC})
# Static on purpose: the program starts once per request, and the dynamic
# loader would cost more than the request (see CMakeLists.txt).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION share/lintian/overrides RENAME hullmon)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/apache.conf.in
              ${PROJECT_SOURCE_DIR}/deploy/nginx.conf.in
              ${PROJECT_SOURCE_DIR}/deploy/lighttpd.conf.in
        DESTINATION ${HULLMON_DOC}/examples)

# Debian wants the changelog compressed, with no name or time stamp in the
# gzip header, so that the same sources give the same package.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
find_program(HULLMON_GZIP gzip)
if(HULLMON_GZIP)
  execute_process(COMMAND ${HULLMON_GZIP} -9nc ${PROJECT_BINARY_DIR}/packaging/changelog
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${HULLMON_DOC})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hullmon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "hullmon developers <maintainers@users.noreply.c-seed-a25e306f.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "container plugin of the Kelm dashboard (CGI program)")
# Lines of at most 80 characters, as dpkg shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "hullmon lists the containers of a node with their state, ports, CPU and"
  "memory, shows their logs, and starts, stops and restarts them, through the"
  "node's docker or podman command-line tool."
  "."
  "The Kelm dashboard runs it as a CGI program, once per request, from"
  "/usr/lib/cgi-bin/hullmon; Apache, nginx with fcgiwrap and lighttpd serve"
  "it (see /usr/share/doc/hullmon/DEPLOY.md and the site files in examples/)."
  "Its dashboard page is built in. It keeps no state and opens no network"
  "connection of its own.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "docker.io | podman")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "apache2 | nginx | lighttpd, sudo")
# Linked statically: nothing to depend on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
include(CPack)
