# The fuzz targets and what each entry links with. Read by fuzz/ (the
# libFuzzer programs, FETCHLET_FUZZ) and by tests/fuzz/ (the regression
# replay, compiled into one GoogleTest program of the test build).
set(FETCHLET_FUZZ_TARGETS
  http url settings cmdline
  archiver_lha archiver_zip archiver_cab archiver_arj archiver_tar archiver_rar archiver_bga
  arj_decoder bga_decoder picture cp932 minisign sha256pin)

set(fetchlet_fuzz_libs_http fetchlet_net fetchlet_fuzz_qt)
set(fetchlet_fuzz_libs_url fetchlet_net fetchlet_fuzz_qt)
set(fetchlet_fuzz_libs_settings fetchlet_app fetchlet_fuzz_qt)
set(fetchlet_fuzz_libs_picture fetchlet_runtime fetchlet_fuzz_qt)
set(fetchlet_fuzz_libs_cp932 fetchlet_platform fetchlet_archcore)
set(fetchlet_fuzz_libs_minisign fetchlet_integrity)
set(fetchlet_fuzz_libs_sha256pin fetchlet_integrity)
foreach(name cmdline archiver_lha archiver_zip archiver_cab archiver_arj archiver_tar archiver_rar archiver_bga
             arj_decoder bga_decoder)
  set(fetchlet_fuzz_libs_${name} fetchlet_archcore)
endforeach()

# Helpers every target may use: scratch folders and files (no Qt), and the
# application object for the targets that need one.
function(fetchlet_fuzz_support_libraries)
  if(TARGET fetchlet_fuzz_support)
    return()
  endif()
  add_library(fetchlet_fuzz_support STATIC ${CMAKE_SOURCE_DIR}/fuzz/FuzzSupport.cpp ${CMAKE_SOURCE_DIR}/fuzz/ReplyServer.cpp)
  target_link_libraries(fetchlet_fuzz_support PUBLIC Threads::Threads)
  target_include_directories(fetchlet_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/archivers)
  add_library(fetchlet_fuzz_qt STATIC ${CMAKE_SOURCE_DIR}/fuzz/FuzzApp.cpp)
  target_link_libraries(fetchlet_fuzz_qt PUBLIC fetchlet_fuzz_support Qt6::Widgets)
endfunction()
