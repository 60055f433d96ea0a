# Interoperability with Debian's own tools (ffmpeg/ffprobe, multicat, tshark):
# what orvane-cli sends they read, what they send orvane-cli records completely.
# A missing tool fails its test with the package to install; nothing is skipped.
# Loopback only; every test has its own ports (24610..24659).
set(ORVANE_INTEROP_DIR ${CMAKE_CURRENT_SOURCE_DIR}/interop)
foreach(test ffprobe-play ffmpeg-record multicat-record tshark-rtp record-rtp-hint
    ffmpeg-fec-record)
  add_test(NAME interop.${test}
    COMMAND ${ORVANE_INTEROP_DIR}/${test}.sh $<TARGET_FILE:orvane-cli>)
  set_tests_properties(interop.${test} PROPERTIES LABELS interop TIMEOUT 90)
endforeach()

# IPv6 unicast and multicast (ff15::) with orvane-cli and ffmpeg, in a private
# network namespace (root, unshare and ip): no port of the machine is used.
add_test(NAME interop.ipv6 COMMAND ${ORVANE_INTEROP_DIR}/ipv6.sh $<TARGET_FILE:orvane-cli>)
set_tests_properties(interop.ipv6 PROPERTIES LABELS interop TIMEOUT 90)
