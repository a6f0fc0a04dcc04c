#include "support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tesk::testing {

IntGrid make_grid(std::initializer_list<std::initializer_list<std::int32_t>> rows) {
  const int nrows = static_cast<int>(rows.size());
  const int ncols = nrows ? static_cast<int>(rows.begin()->size()) : 0;
  IntGrid g(nrows, ncols);
  int i = 0;
  for (const auto& row : rows) {
    if (static_cast<int>(row.size()) != ncols) throw std::invalid_argument("ragged grid");
    int j = 0;
    for (std::int32_t v : row) g[i][j++] = v;
    ++i;
  }
  return g;
}

std::vector<std::vector<std::int32_t>> rows_of(const IntGrid& g) {
  std::vector<std::vector<std::int32_t>> out;
  for (int i = 0; i < g.rows(); ++i) out.emplace_back(g[i], g[i] + g.cols());
  return out;
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "tesk-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only subdirectories removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
  std::filesystem::remove_all(path_, ec);
}

TextStream::TextStream(const std::string& text) : f_(std::tmpfile()) {
  if (!f_ || std::fwrite(text.data(), 1, text.size(), f_) != text.size()) throw std::runtime_error("tmpfile failed");
  std::rewind(f_);
}

TextStream::~TextStream() { std::fclose(f_); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

std::string le16(std::initializer_list<std::uint16_t> values) {
  std::string s;
  for (auto v : values) {
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>(v >> 8));
  }
  return s;
}

std::string le32(std::initializer_list<std::int32_t> values) {
  std::string s;
  for (auto v : values) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((u >> (8 * k)) & 0xff));
  }
  return s;
}

namespace {
std::string drain(int fd) {
  std::string s;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
  return s;
}
}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& input,
                          const std::vector<std::string>& env) {
  // A child that stops reading early must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
    posix_spawn_file_actions_addclose(&actions, fd);

  // The environment inherited, then `env`: of two entries of one name the
  // later one is kept (getenv would find the first).
  std::vector<std::string> all;
  for (char** e = environ; *e; ++e) all.emplace_back(*e);
  all.insert(all.end(), env.begin(), env.end());
  std::vector<std::string> envs, names;
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const std::string name = it->substr(0, it->find('='));
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    names.push_back(name);
    envs.push_back(*it);
  }
  std::vector<char*> envp;
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);

  std::thread feeder([&] {
    std::size_t off = 0;
    while (off < input.size()) {
      const ssize_t n = write(in_pipe[1], input.data() + off, input.size() - off);
      if (n <= 0) break;
      off += static_cast<std::size_t>(n);
    }
    close(in_pipe[1]);
  });
  ProcessResult result;
  std::thread err_reader([&] { result.err = drain(err_pipe[0]); });
  result.out = drain(out_pipe[0]);
  err_reader.join();
  feeder.join();
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace tesk::testing
