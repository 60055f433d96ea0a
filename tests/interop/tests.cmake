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

# SRT with srt-live-transmit (Debian srt-tools) both ways, caller and listener,
# with passphrases; ffmpeg reading our SRT play (skipped with a message, status
# 77, when ffmpeg lacks libsrt). Ports 24700..24729.
# RIST with ristsender/ristreceiver (Debian rist-tools) both ways, both
# profiles, calling and listening, with a secret. Ports 24730..24759.
foreach(test srt-play srt-record ffmpeg-srt-play rist-play rist-record)
  add_test(NAME interop.${test}
    COMMAND ${ORVANE_INTEROP_DIR}/${test}.sh $<TARGET_FILE:orvane-cli>)
  set_tests_properties(interop.${test} PROPERTIES LABELS interop TIMEOUT 90 SKIP_RETURN_CODE 77)
endforeach()
# IPv6 unicast and multicast (ff15::) with orvane-cli and ffmpeg, in a private
# network namespace (root, unshare and ip): no port of the machine is used.
add_test(NAME interop.ipv6 COMMAND ${ORVANE_INTEROP_DIR}/ipv6.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(interop.ipv6 PROPERTIES LABELS interop TIMEOUT 90)
