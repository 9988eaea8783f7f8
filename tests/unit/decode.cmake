# The decoders: sniffing, size limits, lenient reading of damaged files, and the committed
# corpus of damaged files under tests/data/decode with the outcome each should have.
set(ZERBRAK_DECODE_FIXTURES ${PROJECT_SOURCE_DIR}/tests/data/decode)

zerbrak_add_test(tst_decode SOURCES tst_decode.cpp LIBS zerbrak_codec LABELS unit)
target_compile_definitions(tst_decode PRIVATE
    ZERBRAK_DECODE_FIXTURES="${ZERBRAK_DECODE_FIXTURES}")

zerbrak_add_test(tst_decode_corpus SOURCES tst_decode_corpus.cpp LIBS zerbrak_codec LABELS unit)
target_compile_definitions(tst_decode_corpus PRIVATE
    ZERBRAK_DECODE_FIXTURES="${ZERBRAK_DECODE_FIXTURES}")

# Random damage with a fixed seed: nothing may crash, hang or read out of bounds.
zerbrak_add_test(tst_decode_damage SOURCES tst_decode_damage.cpp LIBS zerbrak_codec LABELS unit)
target_compile_definitions(tst_decode_damage PRIVATE
    ZERBRAK_DECODE_FIXTURES="${ZERBRAK_DECODE_FIXTURES}")

# Regenerates the corpus; built only when asked for by name.
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(GIF 5 REQUIRED)
pkg_check_modules(DECODE_FIXTURES_OPENJPEG REQUIRED IMPORTED_TARGET libopenjp2)
add_executable(make-decode-fixtures EXCLUDE_FROM_ALL ${ZERBRAK_DECODE_FIXTURES}/make-fixtures.cpp)
target_link_libraries(make-decode-fixtures PRIVATE Qt6::Gui PNG::PNG TIFF::TIFF GIF::GIF
                                                   PkgConfig::DECODE_FIXTURES_OPENJPEG)
