# `docs`: the API reference of include/qelvo/, made by Doxygen into <build>/docs/html.
# Not part of `all`; a warning (an undocumented public declaration included) fails it.
find_package(Doxygen)
if(DOXYGEN_FOUND)
  set(QELVO_DOCS_OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/docs")
  configure_file("${PROJECT_SOURCE_DIR}/docs/Doxyfile.in" "${QELVO_DOCS_OUTPUT}/Doxyfile" @ONLY)
  file(GLOB QELVO_PUBLIC_HEADERS CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/include/qelvo/*.h")
  add_custom_command(
    OUTPUT "${QELVO_DOCS_OUTPUT}/html/index.html"
    COMMAND Doxygen::doxygen "${QELVO_DOCS_OUTPUT}/Doxyfile"
    DEPENDS ${QELVO_PUBLIC_HEADERS} "${PROJECT_SOURCE_DIR}/docs/Doxyfile.in"
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    COMMENT "API reference (Doxygen)"
    VERBATIM)
  add_custom_target(docs DEPENDS "${QELVO_DOCS_OUTPUT}/html/index.html")
else()
  add_custom_target(docs
    COMMAND "${CMAKE_COMMAND}" -E echo "docs: doxygen is not installed (scripts/install-deps installs it)"
    COMMAND "${CMAKE_COMMAND}" -E false)
endif()
