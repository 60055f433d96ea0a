# Interoperability with Debian's own tools (ffmpeg/ffprobe, multicat, tshark,
# GStreamer) and between Orvane's own play and record (SMPTE 2022-7):
# what orvane-cli sends they read, what they send orvane-cli records completely.
# A missing tool fails its test with the package to install; nothing is skipped.
# Loopback only; every test has its own ports (24610..24679).
set(ORVANE_INTEROP_DIR ${CMAKE_CURRENT_SOURCE_DIR}/interop)
foreach(test ffprobe-play ffmpeg-record multicat-record tshark-rtp record-rtp-hint
    ffmpeg-fec-record gst-fec-play orvane-2022-7)
  add_test(NAME interop.${test}
    COMMAND ${ORVANE_INTEROP_DIR}/${test}.sh $<TARGET_FILE:orvane-cli>)
  set_tests_properties(interop.${test} PROPERTIES LABELS interop TIMEOUT 90)
endforeach()
