// Test support: a temporary folder that removes itself, with a one-call file writer, for
// fixtures built per test (app folders, configuration files, data files).
//
//   tobrel_test::TempDir dir;                       // /tmp/tobrel-test-XXXXXX
//   dir.write("hello/main.js", "log('hi');");      // parent folders are created
//   dir.path() + "/hello"                           // absolute paths
//   readFile(dir.path() + "/out.txt")               // whole files, any path
#ifndef TOBREL_TESTS_SUPPORT_TEMP_DIR_H
#define TOBREL_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

namespace tobrel_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();  // removes the folder and everything in it
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `content` to `relative` (under path()), creating parent folders; returns the path.
  std::string write(const std::string& relative, const std::string& content, int mode = 0644) const;
  // Creates a folder (and its parents) under path(); returns its path.
  std::string mkdir(const std::string& relative) const;

 private:
  std::string path_;
};

// Whole files anywhere (outside a TempDir too): the content, empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file's content; its folder must exist. Throws when the file cannot be written.
void writeFile(const std::string& path, const std::string& content);

}  // namespace tobrel_test

#endif
