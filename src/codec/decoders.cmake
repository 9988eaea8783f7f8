list(APPEND ZERBRAK_CODEC_DECODE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DecodeQt.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DecoderCommon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Sniff.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PngDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JpegDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JpegDecoderOrientation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiffDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiffRepair.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GifDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Jpeg2000Decoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BmpDecoder.cpp
)
