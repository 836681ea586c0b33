# Stamped copies of the client: the same program with another version
# resource, as a product ships it as its download stub. The copy's ProductName,
# ProductVersion and Comments (the UI language as a decimal LCID) are what the
# client reads from its own version resource.
#
#   brut_stamped_copy(<target> <output name without .exe> <ProductName> <ProductVersion> <Comments>)
#
# The Win32 layer is compiled once, as an object library, and linked into the
# client and into every stamped copy; a copy costs one resource compile and a link.

add_library(bruptide_win32 OBJECT ${BRUT_WIN32_SOURCES})
target_link_libraries(bruptide_win32 PRIVATE bruptide_core)
target_compile_options(bruptide_win32 PRIVATE ${BRUT_WARNINGS})
get_target_property(_brut_client_sources BRUptide SOURCES)
list(REMOVE_ITEM _brut_client_sources ${BRUT_WIN32_SOURCES})
set_property(TARGET BRUptide PROPERTY SOURCES "$<TARGET_OBJECTS:bruptide_win32>" ${_brut_client_sources})

function(brut_rc_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\"\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

function(brut_stamped_copy TARGET_NAME OUTPUT_NAME PRODUCT_NAME PRODUCT_VERSION COMMENTS)
  brut_rc_string(name "${PRODUCT_NAME}")
  brut_rc_string(version "${PRODUCT_VERSION}")
  brut_rc_string(comments "${COMMENTS}")
  brut_rc_string(original "${OUTPUT_NAME}.exe")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/stamp/${TARGET_NAME}.rc")
  # Rewritten only when it changes, so that an unchanged copy is not relinked.
  file(WRITE "${rc}.new"
"#define BRUT_STAMP_PRODUCT_NAME ${name}
#define BRUT_STAMP_PRODUCT_VERSION ${version}
#define BRUT_STAMP_COMMENTS ${comments}
#define BRUT_STAMP_ORIGINAL_FILENAME ${original}
#include \"BRUptide.rc\"
")
  configure_file("${rc}.new" "${rc}" COPYONLY)
  set(ui "${CMAKE_SOURCE_DIR}/src/client/ui")
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS
    "${ui}/BRUptide.rc;${ui}/ResourceIds.h;${CMAKE_BINARY_DIR}/generated/BRUptide.manifest;${CMAKE_BINARY_DIR}/generated/Version.h;${ui}/res/BRUptide.ico;${ui}/res/Banner.bmp")
  add_executable(${TARGET_NAME} WIN32 "$<TARGET_OBJECTS:bruptide_win32>" "${rc}")
  set_target_properties(${TARGET_NAME} PROPERTIES OUTPUT_NAME "${OUTPUT_NAME}")
  target_include_directories(${TARGET_NAME} PRIVATE "${ui}")
  get_target_property(opts BRUptide LINK_OPTIONS)
  get_target_property(libs BRUptide LINK_LIBRARIES)
  target_link_options(${TARGET_NAME} PRIVATE ${opts})
  target_link_libraries(${TARGET_NAME} PRIVATE ${libs})
endfunction()

# The stub copy the end-to-end tests run: a German "Sample Tool" 23.1.4.
brut_stamped_copy(BRUptideSampleStub SampleToolSetup "Sample Tool" "23.1.4" "1031")
