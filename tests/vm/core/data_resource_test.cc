// file.read / file.write and the DataResource `text` accessor in an app context over a temp
// app folder: the path rules, reads that always see the file as it is now, and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "data_resource.h"
#include "script.h"
#include "script_env.h"
#include "temp_dir.h"

using tobrel_test::ScriptEnv;
using tobrel_test::TempDir;

namespace {

class Files : public ::testing::Test {
 protected:
  Files() : env(apps.path(), "app") { apps.mkdir("app"); }
  std::string appPath(const std::string& name) const { return apps.path() + "/app/" + name; }
  std::string contentOf(const std::string& name) const {
    std::ifstream in(appPath(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  TempDir apps;
  ScriptEnv env;
};

}  // namespace

TEST_F(Files, NamesAreCheckedAndKeptInsideTheAppFolder) {
  apps.write("app/data.txt", "in app");
  apps.write("app/sub/x.txt", "nested");
  struct Case {
    const char* name;
    const char* text;  // the text read, or the thrown text
  };
  const std::vector<Case> cases = {
      {"data.txt", "in app"},
      {"/data.txt", "in app"},  // a leading "/" still names a file of the app
      {"./sub/x.txt", "nested"},
      {"../app/data.txt", "threw: access denied: ../app/data.txt"},
      {"a..b", "threw: access denied: a..b"},
      {"descriptor.xml", "threw: access denied: descriptor.xml"},
      {"sub/descriptor.xml.bak", "threw: access denied: sub/descriptor.xml.bak"},
      {"my file", "threw: access denied: my file"},
      {"caf\u00e9", "threw: access denied: caf\u00e9"},
      {"a\\\\b", "threw: access denied: a\\b"},
  };
  for (const Case& c : cases) EXPECT_EQ(env.run(std::string("file.read('") + c.name + "').text"), c.text) << c.name;
  EXPECT_TRUE(env.logged("access denied: ../app/data.txt"));
  // write follows the same rule; a refused name writes nothing.
  for (const Case& c : cases) {
    const bool refused = std::string(c.text).rfind("threw:", 0) == 0;
    EXPECT_EQ(env.run(std::string("file.write('") + c.name + "', 'w:" + c.name + "'); 'ok'"), refused ? c.text : "ok")
        << c.name;
  }
  EXPECT_EQ(contentOf("data.txt"), "w:/data.txt");
  EXPECT_EQ(contentOf("sub/x.txt"), "w:./sub/x.txt");
}

TEST_F(Files, ReadingTextReadsTheFileAsItIsNow) {
  apps.write("app/notes", "A");
  EXPECT_EQ(env.run("var r = file.read('notes'); r.text"), "A");
  EXPECT_EQ(env.run("file.write('notes', 'B'); r.text"), "B");
  EXPECT_EQ(env.run("r.text = 'C'; r.text"), "B") << "assigning changes nothing";
  EXPECT_EQ(env.run("Object.keys(r).join()"), "text");
  EXPECT_TRUE(env.logged("path " + appPath("notes")));
}

TEST_F(Files, ContentIsReadUpToItsFirstNulAsUtf8) {
  apps.write("app/empty", "");
  apps.write("app/nul", std::string("ab\0cd", 5));
  apps.write("app/utf8", "caf\xc3\xa9");
  EXPECT_EQ(env.run("file.read('empty').text === ''"), "true");
  EXPECT_EQ(env.run("file.read('nul').text"), "ab");
  EXPECT_EQ(env.run("file.read('utf8').text.length"), "4");
}

TEST_F(Files, WriteReplacesTheFileOneBytePerCharacter) {
  apps.write("app/out", "a much longer old content");
  EXPECT_EQ(env.run("file.write('out', 'new')"), "undefined");
  EXPECT_EQ(contentOf("out"), "new");
  EXPECT_EQ(env.run("file.write('out', '')"), "undefined");
  EXPECT_EQ(contentOf("out"), "");
  EXPECT_EQ(env.run("file.write('out', 'caf\\u00e9')"), "undefined");
  EXPECT_EQ(contentOf("out"), "caf\xe9");
}

TEST_F(Files, FilesThatCannotBeReadThrowCannotOpenResource) {
  apps.mkdir("app/folder");
  // Sparse, 4 GiB and 9 bytes: its size does not fit in 32 bits, and cut to them it is 9.
  apps.write("app/huge", "some text");
  ASSERT_EQ(truncate(appPath("huge").c_str(), (off_t{1} << 32) + 9), 0);
  struct Case {
    const char* name;
    const char* warning;
  };
  for (const Case& c : {Case{"missing", "No such file or directory"}, Case{"folder", "Is a directory"},
                        Case{"huge", "File too large"}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(env.run(std::string("var r = file.read('") + c.name + "'); typeof r"), "object");
    EXPECT_EQ(env.run("r.text"), "threw: cannot open resource: " + appPath(c.name));
    EXPECT_TRUE(env.logged(c.warning));
  }
}

// A pipe in the app folder has no content to read: `text` refuses it at once instead of
// waiting for a writer that never comes.
TEST_F(Files, APipeIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = appPath("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  bool unblocked = false;
  // Should the read wait for a writer after all, this one lets it go, so the test fails
  // instead of hanging.
  std::thread rescue([&] {
    for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    while (!done) {
      const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        unblocked = true;
        close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const std::string result = env.run("file.read('pipe').text");
  done = true;
  rescue.join();
  EXPECT_FALSE(unblocked) << "the read waited for a writer";
  EXPECT_EQ(result, "threw: cannot open resource: " + fifo);
  EXPECT_TRUE(env.logged("Invalid argument"));
}

TEST_F(Files, AWriteThatCannotOpenItsFileThrowsAndWritesNothing) {
  EXPECT_EQ(env.run("file.write('no/such/folder/x', 'text')"),
            "threw: cannot open resource: " + appPath("no/such/folder/x"));
  EXPECT_TRUE(env.logged("No such file or directory"));
  apps.mkdir("app/dir");
  EXPECT_EQ(env.run("file.write('dir', 'text')"), "threw: cannot open resource: " + appPath("dir"));
}

TEST_F(Files, AWriteThatFailsOnTheDiskIsNotReportedAsSuccess) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(symlink("/dev/full", appPath("full").c_str()), 0);
  EXPECT_EQ(env.run("file.write('full', 'text')"), "threw: cannot open resource: " + appPath("full"));
  EXPECT_TRUE(env.logged("No space left on device"));
}

TEST_F(Files, BadArgumentsAreASignatureError) {
  for (const char* call : {"file.read()", "file.read(5)", "file.read('a', 'b')", "file.write('a')",
                           "file.write('a', 5)", "file.write(5, 'a')", "file.write('a', 'b', 'c')"}) {
    EXPECT_EQ(env.run(call), "threw: Signature error function") << call;
  }
}

TEST_F(Files, LongPathsAreCutTo511Characters) {
  const std::string prefix = apps.path() + "/app/";
  const std::string name(600 - prefix.size(), 'n');
  EXPECT_EQ(env.run("file.read('" + name + "').text"),
            "threw: cannot open resource: " + (prefix + name).substr(0, 511));
}

TEST_F(Files, ADataResourceHoldsItsPathInItsSecondField) {
  v8::HandleScope scope(env.isolate());
  v8::Local<v8::Object> resource = getDataResource("/some/path");
  ASSERT_EQ(resource->InternalFieldCount(), 2);
  EXPECT_TRUE(resource->GetInternalField(0)->IsExternal());
  v8::String::Utf8Value path(env.isolate(), resource->GetInternalField(1));
  EXPECT_STREQ(*path, "/some/path");
  EXPECT_TRUE(env.logged("getDataResource(/some/path)"));
}
