# The login screen's message catalogs: each language of po/LINGUAS is compiled from po/LL.po
# (msgfmt --check) into locale/LL/LC_MESSAGES/vesko.mo in the build tree, which the tests use;
# the daemon reads them from VESKO_LOCALE_DIR, where they are installed.
set(VESKO_LOCALE_DIR /usr/share/locale CACHE PATH "Where the daemon finds its message catalogs")
set(VESKO_BUILD_LOCALE_DIR ${CMAKE_BINARY_DIR}/locale)
find_program(VESKO_MSGFMT msgfmt REQUIRED)
file(STRINGS ${CMAKE_SOURCE_DIR}/po/LINGUAS VESKO_LANGUAGES REGEX "^[^#]")
set(VESKO_CATALOGS)
foreach(language ${VESKO_LANGUAGES})
  set(catalog_dir ${VESKO_BUILD_LOCALE_DIR}/${language}/LC_MESSAGES)
  add_custom_command(
    OUTPUT ${catalog_dir}/vesko.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${catalog_dir}
    COMMAND ${VESKO_MSGFMT} --check -o ${catalog_dir}/vesko.mo
            ${CMAKE_SOURCE_DIR}/po/${language}.po
    DEPENDS ${CMAKE_SOURCE_DIR}/po/${language}.po
    VERBATIM)
  list(APPEND VESKO_CATALOGS ${catalog_dir}/vesko.mo)
endforeach()
add_custom_target(vesko_catalogs ALL DEPENDS ${VESKO_CATALOGS})
# Extracts the texts into po/vesko.pot and merges them into the catalogs.
add_custom_target(vesko_pot COMMAND ${CMAKE_SOURCE_DIR}/scripts/catalogs update
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} VERBATIM)
if(BUILD_TESTING)
  add_test(NAME packaging.catalogs COMMAND ${CMAKE_SOURCE_DIR}/scripts/catalogs check)
  set_tests_properties(packaging.catalogs PROPERTIES LABELS packaging)
endif()
