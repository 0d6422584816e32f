# The fetch benchmark serves its page with cpp-httplib and compares against
# libcurl used directly.
find_package(CURL REQUIRED)
pkg_check_modules(QUILLMERE_BENCH_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)
target_link_libraries(${name} PRIVATE CURL::libcurl PkgConfig::QUILLMERE_BENCH_HTTPLIB Threads::Threads)
