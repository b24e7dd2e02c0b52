// The voice daemon's frame, through a real bus: start-up outcomes, the name and its policy,
// the `registered` signal, the interface, and how the five methods answer while idle.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "syslog_capture.h"
#include "voice_fixture.h"

using tobrel_test::RunOptions;
using tobrel_test::RunResult;
using voice_test::confWithServers;
using voice_test::Reply;
using voice_test::VoiceDaemonTest;

namespace {

const char kDefaultError[] = "org.freedesktop.DBus.GLib.ErrorError";

bool exitedWith(const RunResult &run, int code) { return !run.timedOut && run.exited && run.exitCode == code; }

}  // namespace

TEST_F(VoiceDaemonTest, BadConfigurationEndsWithStatus255BeforeTakingTheName) {
  struct Case {
    const char *what;
    const char *conf;  // nullptr: no file at all
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"missing file", nullptr, {"No such file or directory"}},
      {"not a key file", "this is not a key file\n", {"not a key-value pair"}},
      {"no recognition server", "[tts]\nfr=http://127.0.0.1:1/fr\n",
       {"nbserver 0", "no server in voice.conf found", "ASR init FAIL3"}},
      // The first server is drawn at random: only a count without any key fails every time.
      {"server count without its keys", "[asr]\nport=1\nnbserver=2\n",
       {"nbserver 2", "no server in voice.conf found", "ASR init FAIL3"}},
      {"server key with a zero count", "[asr]\nport=1\nnbserver=0\nserver0=127.0.0.1\n",
       {"no server in voice.conf found", "ASR init FAIL3"}},
  };
  startBus();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(confPath().c_str());
    if (c.conf) writeConf(c.conf);
    const RunResult run = runToEnd(daemonOptions());
    EXPECT_TRUE(exitedWith(run, 255)) << run.describe();
    const std::string out = run.out;
    EXPECT_NE(out.find("Successfully connected to SYSTEM bus"), std::string::npos) << out;
    for (const std::string &line : c.logged) EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(nameOwner(), "");
  }
  EXPECT_TRUE(signals.empty());
}

TEST_F(VoiceDaemonTest, UnreachableBusIsFatal) {
  writeConf(confWithServers(""));
  RunOptions options = daemonOptions();
  options.env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + dir.path() + "/no-bus-here");
  expectFatal(options, "Failed to open connection to bus");
}

TEST_F(VoiceDaemonTest, NameRefusedWithoutThePolicyFileIsFatal) {
  startBus(/*with_policy=*/false);
  writeConf(confWithServers(""));
  expectFatal(daemonOptions(), "Failed to get name");
  pump(100);
  EXPECT_TRUE(signalsNamed("registered").empty());
}

TEST_F(VoiceDaemonTest, SecondDaemonIsQueuedAndEnds) {
  startBus();
  writeConf(confWithServers(""));
  ASSERT_TRUE(startDaemon());
  const std::string owner = nameOwner();

  expectFatal(daemonOptions(), "Got result code 2 from requesting name");

  // The first one goes on serving, and only it announced itself.
  Reply r = call("tts_stop", g_variant_new("(si)", "x", 0));
  EXPECT_TRUE(r.ok && r.result) << r.error;
  EXPECT_EQ(nameOwner(), owner);
  pump(100);
  ASSERT_EQ(signalsNamed("registered").size(), 1u);
  EXPECT_EQ(signalsNamed("registered")[0].sender, owner);
}

TEST_F(VoiceDaemonTest, RegisteredOnceAndInterfaceAsPublished) {
  startBus();
  writeConf(confWithServers(""));
  ASSERT_TRUE(startDaemon());
  ASSERT_TRUE(waitForSignals("registered", 1, 20000));
  // Later calls do not announce the object again.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(call("asr_stop", g_variant_new("(si)", "", i)).ok);
  pump(200);
  ASSERT_EQ(signalsNamed("registered").size(), 1u);
  EXPECT_EQ(signalsNamed("registered")[0].sender, nameOwner());
  EXPECT_EQ(signalsNamed("registered")[0].args, "()");

  GVariant *r = g_dbus_connection_call_sync(
      client, "com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice",
      "org.freedesktop.DBus.Introspectable", "Introspect", nullptr, G_VARIANT_TYPE("(s)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  const gchar *xml;
  g_variant_get(r, "(&s)", &xml);
  GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(xml, nullptr);
  ASSERT_NE(node, nullptr) << xml;
  GDBusInterfaceInfo *iface =
      g_dbus_node_info_lookup_interface(node, "com.helvorand.tobrel.TobrelInterface");
  ASSERT_NE(iface, nullptr) << xml;

  auto args = [](GDBusArgInfo **list) {
    std::string s;
    for (GDBusArgInfo **a = list; a && *a; ++a)
      s += std::string((*a)->name ? (*a)->name : "") + ":" + (*a)->signature + " ";
    return s;
  };
  // Every argument named, and the members in the interface's own order.
  struct Method {
    const char *name, *in, *out;
  };
  const Method methods[] = {
      {"tts_speak", "id:s text:s lang:s behaviour:i ", "result:b "},
      {"tts_stop", "id:s behaviour:i ", "result:b "},
      {"asr_start_file", "uid:s filename:s behaviour:i ", "result:b "},
      {"asr_start_string", "uid:s grammar:s lang:s behaviour:i ", "result:b "},
      {"asr_stop", "id:s behaviour:i ", "result:b "},
  };
  size_t method_count = 0;
  for (GDBusMethodInfo **m = iface->methods; m && *m; ++m, ++method_count) {
    ASSERT_LT(method_count, std::size(methods)) << (*m)->name;
    const Method &want = methods[method_count];
    EXPECT_STREQ((*m)->name, want.name);
    EXPECT_EQ(args((*m)->in_args), want.in) << want.name;
    EXPECT_EQ(args((*m)->out_args), want.out) << want.name;
  }
  EXPECT_EQ(method_count, std::size(methods));
  struct Sig {
    const char *name, *args;
  };
  const Sig sigs[] = {
      {"asr_event", "uid:s text:s detail:s value:i "},
      {"tts_event", "id:s event:i "},
      {"asr_word", "word:s "},
      {"registered", ""},
  };
  size_t signal_count = 0;
  for (GDBusSignalInfo **sig = iface->signals; sig && *sig; ++sig, ++signal_count) {
    ASSERT_LT(signal_count, std::size(sigs)) << (*sig)->name;
    EXPECT_STREQ((*sig)->name, sigs[signal_count].name);
    EXPECT_EQ(args((*sig)->args), sigs[signal_count].args) << sigs[signal_count].name;
  }
  EXPECT_EQ(signal_count, std::size(sigs));
  // Introspection itself is listed; properties, which no caller may use, are not.
  EXPECT_NE(g_dbus_node_info_lookup_interface(node, "org.freedesktop.DBus.Introspectable"), nullptr);
  EXPECT_EQ(g_dbus_node_info_lookup_interface(node, "org.freedesktop.DBus.Properties"), nullptr);
  EXPECT_EQ(iface->properties == nullptr || iface->properties[0] == nullptr, true);
  g_dbus_node_info_unref(node);
  g_variant_unref(r);
}

TEST_F(VoiceDaemonTest, IdleMethodsAnswerWithoutSignals) {
  startBus();
  writeConf(confWithServers("fr=http://127.0.0.1:9/fr"));
  ASSERT_TRUE(startDaemon());
  struct Case {
    const char *method;
    GVariant *args;
    bool ok;
    const char *logged;
  };
  const Case cases[] = {
      {"tts_stop", g_variant_new("(si)", "", 0), true, "TTS STOP"},
      {"tts_stop", g_variant_new("(si)", "some other id", -7), true, "TTS STOP"},
      {"asr_stop", g_variant_new("(si)", "x", 123456), true, "ASR STOP"},
      {"tts_speak", g_variant_new("(sssi)", "id-de", "Hallo", "de", 0), false, "wrong lang (de)"},
      {"tts_speak", g_variant_new("(sssi)", "id-f", "Salut", "f", 0), false, "wrong lang (f)"},
      {"tts_speak", g_variant_new("(sssi)", "id-empty", "Salut", "", 0), false, "wrong lang ()"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    Reply r = call(c.method, c.args);
    EXPECT_EQ(r.ok, c.ok) << r.error;
    if (c.ok) EXPECT_TRUE(r.result);
    else EXPECT_EQ(r.error.rfind(kDefaultError, 0), 0u) << r.error;
    EXPECT_TRUE(daemon->waitForOutput(c.logged, 20000)) << c.logged;
  }
  pump(200);
  EXPECT_TRUE(signalsNamed("tts_event").empty());
  EXPECT_TRUE(signalsNamed("asr_event").empty());
  EXPECT_TRUE(signalsNamed("asr_word").empty());
  EXPECT_TRUE(daemon->running());
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);
}

// With no recognition server listening, both starts are refused with the default error reply,
// and each start's failure reaches the clients as a cancel event.
TEST_F(VoiceDaemonTest, RecognitionStartsAreRefusedWithoutAServer) {
  startBus();
  writeConf(confWithServers(""));
  ASSERT_TRUE(startDaemon());
  Reply by_string = call("asr_start_string", g_variant_new("(sssi)", "uid-1", "yes | no", "fr-FR", 0));
  EXPECT_FALSE(by_string.ok);
  EXPECT_EQ(by_string.error.rfind(kDefaultError, 0), 0u) << by_string.error;
  Reply by_file = call("asr_start_file", g_variant_new("(ssi)", "uid-2", "/tmp/grammar.abnf", 1));
  EXPECT_FALSE(by_file.ok);
  EXPECT_EQ(by_file.error.rfind(kDefaultError, 0), 0u) << by_file.error;
  EXPECT_TRUE(daemon->waitForOutput("asr server connection FAIL", 20000));
  EXPECT_TRUE(call("asr_stop", g_variant_new("(si)", "uid-1", 0)).result);
  ASSERT_TRUE(waitForSignals("asr_event", 2, 5000));
  pump(200);
  const auto events = signalsNamed("asr_event");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].args, "('uid-1', '<error_server_timeout>', 'cancel', 2)");
  EXPECT_EQ(events[1].args, "('uid-2', '<error_server_timeout>', 'cancel', 2)");
}

// Descriptor 0 means "no recognition socket" and "no capture device": a daemon started with its
// standard descriptors closed holds them on /dev/null, so that no session is handed one of them.
TEST_F(VoiceDaemonTest, ClosedStandardDescriptorsAreHeldOnNull) {
  startBus();
  writeConf(confWithServers(""));
  std::vector<std::string> closed = {"/bin/sh", "-c", "exec \"$@\" <&- >&- 2>&-", "sh"};
  for (const std::string &word : tobrel_test::commandFor(VOICE_BINARY)) closed.push_back(word);
  ASSERT_TRUE(startDaemon(daemon, daemonOptions(), closed));
  for (int fd = 0; fd <= 2; ++fd) {
    SCOPED_TRACE(fd);
    char target[256] = {};
    const std::string link = "/proc/" + std::to_string(daemon->pid()) + "/fd/" + std::to_string(fd);
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null");
  }
  EXPECT_TRUE(call("asr_stop", g_variant_new("(si)", "", 0)).result);
}

TEST_F(VoiceDaemonTest, DebugVariableSetsTheSyslogThreshold) {
  if (!tobrel_test::SyslogCapture::available()) GTEST_SKIP() << "no private mount namespace";
  struct Case {
    const char *what;
    std::optional<std::string> value;
    bool debug_in_syslog;
  };
  const Case cases[] = {
      {"unset", std::nullopt, false},
      {"empty", std::string(), true},
      {"zero", std::string("0"), true},
  };
  startBus();
  // Without a recognition server the daemon logs its debug lines and ends by itself.
  writeConf("[tts]\nfr=http://127.0.0.1:1/fr\n");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options = daemonOptions();
    options.env.push_back(c.value ? "TOBREL_DEBUG=" + *c.value : "TOBREL_DEBUG");
    tobrel_test::SyslogCapture syslog;
    options.syslog = &syslog;
    const RunResult run = runToEnd(options);
    EXPECT_TRUE(exitedWith(run, 255)) << run.describe();
    bool debug_seen = false, loading_seen = false;
    for (const tobrel_test::SyslogRecord &l : syslog.records()) {
      EXPECT_EQ(l.ident, "Voice");
      EXPECT_EQ(l.facility, LOG_LOCAL1);
      if (l.message.rfind("Loading brick", 0) == 0) {
        loading_seen = true;
        EXPECT_EQ(l.severity, LOG_NOTICE);
      }
      if (l.message == "no server in voice.conf found") {
        debug_seen = true;
        EXPECT_EQ(l.severity, LOG_DEBUG);
      }
    }
    EXPECT_TRUE(loading_seen);
    EXPECT_EQ(debug_seen, c.debug_in_syslog);
    // Standard output shows the debug lines whatever the threshold.
    EXPECT_NE(run.out.find("no server in voice.conf found"), std::string::npos);
  }
}

// A text too long for one syslog datagram would otherwise go to the console line by line,
// with the daemon frozen for every client meanwhile: syslog gets a marked 8 KiB copy, standard
// output the whole line.
TEST_F(VoiceDaemonTest, ALongSpeechTextIsCutInSyslogOnly) {
  if (!tobrel_test::SyslogCapture::available()) GTEST_SKIP() << "no private mount namespace";
  startBus();
  writeConf(confWithServers(""));
  daemonSyslog = std::make_unique<tobrel_test::SyslogCapture>();
  RunOptions options = daemonOptions();
  options.env.push_back("TOBREL_DEBUG=1");
  options.syslog = daemonSyslog.get();
  ASSERT_TRUE(startDaemon(daemon, options));
  const std::string text = tobrel_test::repeat("0123456789", 200000);
  // No [tts] language: refused after the text was logged.
  EXPECT_FALSE(call("tts_speak", g_variant_new("(sssi)", "long", text.c_str(), "de", 0)).ok);
  ASSERT_TRUE(daemon->waitForOutput("wrong lang (de)", 20000));
  EXPECT_NE(daemon->output().find("SPEAK : " + text + "\n"), std::string::npos);
  std::vector<tobrel_test::SyslogRecord> spoken;
  for (const tobrel_test::SyslogRecord &r : daemonSyslog->records())
    if (r.message.rfind("SPEAK : ", 0) == 0) spoken.push_back(r);
  ASSERT_EQ(spoken.size(), 1u);
  EXPECT_EQ(spoken[0].severity, LOG_DEBUG);
  EXPECT_TRUE(spoken[0].message == ("SPEAK : " + text).substr(0, 8186) + " [cut]")
      << spoken[0].message.size() << " bytes";
  EXPECT_EQ(daemonSyslog->find("wrong lang (de)").size(), 1u);
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);
}

TEST_F(VoiceDaemonTest, PolicyLetsOnlyRootOwnTheNameButAnyoneCall) {
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv missing";
  std::string why;
  const std::string staged = daemonForOtherUsers(&why);
  if (staged.empty()) GTEST_SKIP() << why;
  startBus();
  writeConf(confWithServers(""));
  chmod(confPath().c_str(), 0644);
  const std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                              "--clear-groups"};
  std::vector<std::string> argv = as_nobody;
  for (const std::string &word : tobrel_test::commandFor(staged)) argv.push_back(word);
  expectFatal(daemonOptions(), "Failed to get name", argv);

  ASSERT_TRUE(startDaemon());
  std::vector<std::string> send = as_nobody;
  for (const char *a : {"/usr/bin/dbus-send", "--system", "--print-reply",
                        "--dest=com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice",
                        "com.helvorand.tobrel.TobrelInterface.tts_stop", "string:x", "int32:0"})
    send.push_back(a);
  RunOptions send_options;
  send_options.env = {"DBUS_SYSTEM_BUS_ADDRESS=" + bus->address()};
  send_options.outputToFile = true;
  const RunResult caller = runToEnd(send_options, send);
  EXPECT_TRUE(exitedWith(caller, 0)) << caller.out;
  EXPECT_NE(caller.out.find("boolean true"), std::string::npos) << caller.out;
}

// Introspect with and without its optional interface field is answered from the interface file
// on the object's path only; the bindings answer it on any other path, with the child nodes. On
// a bus that lets every call through: the daemon's policy refuses one without an interface field.
TEST_F(VoiceDaemonTest, IntrospectionOfTheObjectWithOrWithoutInterfaceAndOfOtherPaths) {
  const std::string open = dir.write("open-policy.conf",
                                     "<busconfig><policy context=\"default\"><allow own=\"*\"/>"
                                     "<allow send_destination=\"*\"/></policy></busconfig>\n");
  startBusWith({open});
  writeConf(confWithServers(""));
  ASSERT_TRUE(startDaemon());
  struct Case {
    const char *path;
    bool withInterface;
    bool theObject;     // the interface file's answer
    const char *child;  // a child node the answer lists, or nullptr
  };
  const Case cases[] = {
      {"/com/helvorand/tobrel/Voice", true, true, nullptr},
      {"/com/helvorand/tobrel/Voice", false, true, nullptr},
      {"/", true, false, "com"},
      {"/", false, false, "com"},
      {"/com/helvorand/tobrel", false, false, "Voice"},
      {"/com/helvorand/tobrel/Voice/child", true, false, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.withInterface ? " with" : " without") + " interface");
    GDBusMessage *call = g_dbus_message_new_method_call(
        "com.helvorand.tobrel.Voice", c.path, c.withInterface ? "org.freedesktop.DBus.Introspectable" : nullptr,
        "Introspect");
    GError *error = nullptr;
    GDBusMessage *reply = g_dbus_connection_send_message_with_reply_sync(
        client, call, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr, &error);
    g_object_unref(call);
    ASSERT_NE(reply, nullptr) << error->message;
    ASSERT_EQ(g_dbus_message_get_message_type(reply), G_DBUS_MESSAGE_TYPE_METHOD_RETURN)
        << g_dbus_message_get_error_name(reply);
    const gchar *xml = nullptr;
    g_variant_get(g_dbus_message_get_body(reply), "(&s)", &xml);
    GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(xml, nullptr);
    ASSERT_NE(node, nullptr) << xml;
    EXPECT_EQ(g_dbus_node_info_lookup_interface(node, "com.helvorand.tobrel.TobrelInterface") != nullptr, c.theObject)
        << xml;
    if (c.theObject) {
      EXPECT_EQ(g_dbus_node_info_lookup_interface(node, "org.freedesktop.DBus.Properties"), nullptr) << xml;
    }
    if (c.child != nullptr) {
      bool listed = false;
      for (GDBusNodeInfo **n = node->nodes; n && *n; ++n) listed = listed || g_strcmp0((*n)->path, c.child) == 0;
      EXPECT_TRUE(listed) << xml;
    }
    g_dbus_node_info_unref(node);
    g_object_unref(reply);
  }
}

// Whatever the introspection lists, a caller that is not root can use under the daemon's policy:
// each listed interface answers such a caller, and the one it would not answer is not listed.
TEST_F(VoiceDaemonTest, IntrospectionListsOnlyWhatThePolicyLetsAnyCallerUse) {
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv missing";
  startBus();
  writeConf(confWithServers(""));
  ASSERT_TRUE(startDaemon());
  auto asNobody = [&](const std::vector<std::string> &words) {
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     "/usr/bin/dbus-send", "--system", "--print-reply",
                                     "--dest=com.helvorand.tobrel.Voice"};
    argv.insert(argv.end(), words.begin(), words.end());
    RunOptions options;
    options.env = {"DBUS_SYSTEM_BUS_ADDRESS=" + bus->address()};
    options.outputToFile = true;
    return runToEnd(options, argv);
  };
  const RunResult introspected =
      asNobody({"/com/helvorand/tobrel/Voice", "org.freedesktop.DBus.Introspectable.Introspect"});
  ASSERT_TRUE(exitedWith(introspected, 0)) << introspected.out;
  const size_t start = introspected.out.find("<!DOCTYPE");
  const size_t end = introspected.out.rfind("</node>");
  ASSERT_TRUE(start != std::string::npos && end != std::string::npos) << introspected.out;
  GDBusNodeInfo *node =
      g_dbus_node_info_new_for_xml(introspected.out.substr(start, end + 7 - start).c_str(), nullptr);
  ASSERT_NE(node, nullptr) << introspected.out;
  std::vector<std::string> listed;
  for (GDBusInterfaceInfo **i = node->interfaces; i && *i; ++i) listed.push_back((*i)->name);
  g_dbus_node_info_unref(node);
  EXPECT_EQ(listed, (std::vector<std::string>{"org.freedesktop.DBus.Introspectable",
                                              "com.helvorand.tobrel.TobrelInterface"}));
  const RunResult called = asNobody(
      {"/com/helvorand/tobrel/Voice", "com.helvorand.tobrel.TobrelInterface.tts_stop", "string:x", "int32:0"});
  EXPECT_TRUE(exitedWith(called, 0)) << called.out;
  // The reason Properties is left out: such a caller cannot reach it.
  const RunResult properties = asNobody({"/com/helvorand/tobrel/Voice", "org.freedesktop.DBus.Properties.GetAll",
                                         "string:com.helvorand.tobrel.TobrelInterface"});
  EXPECT_NE(properties.out.find("AccessDenied"), std::string::npos) << properties.out;
}

TEST_F(VoiceDaemonTest, InstalledDaemonRunsWithItsPolicyAndLibrary) {
  const std::string prefix = dir.path() + "/prefix";
  std::string error;
  ASSERT_TRUE(installDaemon(prefix, &error)) << error;
  const std::string policy = prefix + "/share/dbus-1/system.d/com.helvorand.tobrel.Voice.conf";
  EXPECT_EQ(tobrel_test::readFile(policy), tobrel_test::readFile(VOICE_POLICY_FILE));

  // The installed policy is the one the bus applies, and the installed program finds the
  // installed library.
  bus = std::make_unique<tobrel::test::PrivateBus>(std::vector<std::string>{policy});
  ASSERT_TRUE(bus->ok()) << bus->error();
  writeConf(confWithServers(""));
  RunOptions options = daemonOptions();
  options.env.push_back("LD_LIBRARY_PATH");
  auto installed = tobrel_test::Process::start({prefix + "/bin/voice"}, options);
  ASSERT_TRUE(installed->waitForOutput("Successfully connected to SYSTEM bus", 30000))
      << installed->output();
  const std::string maps = tobrel_test::readFile("/proc/" + std::to_string(installed->pid()) + "/maps");
  EXPECT_NE(maps.find(prefix + "/"), std::string::npos);
  EXPECT_NE(maps.find("libtobrel-common.so.1"), std::string::npos);
  GDBusConnection *c = voice_test::connectTo(bus->address());
  ASSERT_NE(c, nullptr);
  GVariant *r = nullptr;
  for (int i = 0; i < 500 && !r; ++i) {
    r = g_dbus_connection_call_sync(c, "com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice",
                                    "com.helvorand.tobrel.TobrelInterface", "tts_stop",
                                    g_variant_new("(si)", "", 0), G_VARIANT_TYPE("(b)"),
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!r) usleep(10000);
  }
  ASSERT_NE(r, nullptr) << installed->output();
  g_variant_unref(r);
  g_object_unref(c);
}
