# Writes the interface file as a C++ string constant, so that the daemon answers introspection
# from the same file that the binding tool makes its glue from.
#   cmake -DINPUT=voice-interface.xml -DOUTPUT=voice-interface-xml.h -P embed-interface.cmake
file(READ ${INPUT} text)
file(WRITE ${OUTPUT}
  "// Generated from voice-interface.xml by embed-interface.cmake.\n"
  "#pragma once\n"
  "static const char kVoiceInterfaceXml[] = R\"interface-xml(${text})interface-xml\";\n")
