list(APPEND ZERBRAK_CODEC_ENCODE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Encode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EncoderMemoryFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EncoderPixels.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BmpEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GifEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GifEncoderPalette.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Jp2Encoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JpegEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PngEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiffEncoder.cpp
)
