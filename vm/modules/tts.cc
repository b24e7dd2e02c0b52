// The speech natives on the command pattern (command.h). Text and language travel as UTF-8;
// neither is tested for type.
#include "tts.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "nusk-message.pb.h"

using net::zolvek::nusk::message::Tts;
using v8::FunctionCallbackInfo;
using v8::Value;

void TtsFunctionStart(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  const int argc = args.Length();
  const bool lastIsFunction = lastArgumentIsFunction(args);
  // (text, lang) and (text, lang, fn) carry a language; (text, lang, not a function) does not.
  const bool withLang = (argc == 2 && !lastIsFunction) || (argc == 3 && lastIsFunction);
  const bool shaped = argc == 3 && !lastIsFunction ? call.exactly(3) : call.shape(withLang ? 2 : 1);
  std::string text;
  if (!shaped || !call.interactive() || !call.utf8(0, &text)) return;
  g_message("TTS: say[%s]", text.c_str());
  Tts* tts = call.message().mutable_tts();
  tts->set_action(Tts::START);
  tts->set_text(text);
  if (withLang) {
    std::string lang;
    if (!call.utf8(1, &lang)) return;
    g_message("TTS: lang[%s]", lang.c_str());
    tts->set_lang(lang);
  }
  call.send("TTS");
}

void TtsFunctionStop(const FunctionCallbackInfo<Value>& args) {
  g_message("TtsFunctionStop start");
  CommandCall call(args);
  if (!call.shape(0)) return;
  if (call.hasCallback()) g_message("TtsFunctionStop arg ok");
  if (!call.interactive()) return;
  g_message("TtsFunctionStop");
  call.message().mutable_tts()->set_action(Tts::STOP);
  call.send("TTS");
}
