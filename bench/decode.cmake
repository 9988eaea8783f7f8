# Our lenient decoders against QImageReader on the same undamaged pictures.
add_executable(bench_decode ${CMAKE_CURRENT_LIST_DIR}/bench_decode.cpp)
target_link_libraries(bench_decode PRIVATE zerbrak_codec benchmark::benchmark zerbrak_warnings)
