#include "Robot.h"

#include <gtest/gtest.h>
#include <stdio.h>

Robot::~Robot() {
  if (m_Process) {
    DWORD code;
    if (GetExitCodeProcess(m_Process, &code) && code == STILL_ACTIVE) {
      TerminateProcess(m_Process, 99);
      WaitForSingleObject(m_Process, 5000);
    }
    CloseHandle(m_Process);
  }
}

bool Robot::Start(const std::string& commandLine) {
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  m_Process = pi.hProcess;
  m_Pid = pi.dwProcessId;
  return true;
}

bool Robot::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!m_Process || WaitForSingleObject(m_Process, timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "program did not end within " << timeoutMs << " ms\n" << WindowTree();
    return false;
  }
  if (exitCode) GetExitCodeProcess(m_Process, exitCode);
  return true;
}

namespace {
struct Collect {
  DWORD pid;
  bool visibleOnly;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectTop(HWND w, LPARAM p) {
  Collect* c = (Collect*)p;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == c->pid && (!c->visibleOnly || IsWindowVisible(w))) c->out->push_back(w);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND w, LPARAM p) {
  ((std::vector<HWND>*)p)->push_back(w);
  return TRUE;
}

std::string ClassOf(HWND w) {
  char cls[128] = "";
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}
}  // namespace

std::vector<HWND> Robot::TopLevelWindows(bool visibleOnly) const {
  std::vector<HWND> out;
  Collect c = {m_Pid, visibleOnly, &out};
  EnumWindows(CollectTop, (LPARAM)&c);
  return out;
}

HWND Robot::FindWindowNow(const char* className, const char* caption) const {
  for (HWND w : TopLevelWindows(true)) {
    if (className && ClassOf(w) != className) continue;
    if (caption && Text(w) != caption) continue;
    return w;
  }
  return NULL;
}

HWND Robot::WaitForWindow(const char* className, const char* caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = FindWindowNow(className, caption);
    if (w) return w;
    if (GetTickCount() - start >= timeoutMs) break;
    Sleep(50);
  }
  ADD_FAILURE() << "no window of class " << (className ? className : "(any)") << " captioned "
                << (caption ? caption : "(any)") << " within " << timeoutMs << " ms\n"
                << WindowTree();
  return NULL;
}

std::string Robot::Text(HWND window) {
  char text[4096] = "";
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
  return text;
}

std::vector<RobotControl> Robot::Controls(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, (LPARAM)&children);
  std::vector<RobotControl> out;
  for (HWND w : children) {
    RobotControl c = {w, GetDlgCtrlID(w), ClassOf(w), Text(w), IsWindowVisible(w) != 0,
                      IsWindowEnabled(w) != 0};
    out.push_back(c);
  }
  return out;
}

bool Robot::Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  // Posted: a press that opens a modal box must not block the test.
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

bool Robot::PressText(HWND dialog, const char* text) {
  for (const RobotControl& c : Controls(dialog)) {
    std::string plain;
    for (char ch : c.Text)
      if (ch != '&') plain += ch;
    if (c.Class == "Button" && plain == text) {
      PostMessageA(c.Window, BM_CLICK, 0, 0);
      return true;
    }
  }
  return false;
}

std::string Robot::AnswerMessageBox(const char* caption, int answer, DWORD timeoutMs) {
  HWND box = WaitForWindow("#32770", caption, timeoutMs);
  if (!box) return std::string();
  std::string text = Text(GetDlgItem(box, 0xFFFF));
  if (!Press(box, answer)) ADD_FAILURE() << "message box has no button " << answer << "\n" << WindowTree();
  return text;
}

std::string Robot::WindowTree() const {
  std::string out = "window tree of process " + std::to_string(m_Pid) + ":\n";
  for (HWND w : TopLevelWindows(false)) {
    char line[512];
    snprintf(line, sizeof line, "  [%p] %s \"%s\"%s\n", (void*)w, ClassOf(w).c_str(),
             Text(w).c_str(), IsWindowVisible(w) ? "" : " (hidden)");
    out += line;
    for (const RobotControl& c : Controls(w)) {
      snprintf(line, sizeof line, "    id %d %s \"%s\"%s%s\n", c.Id, c.Class.c_str(), c.Text.c_str(),
               c.Visible ? "" : " (hidden)", c.Enabled ? "" : " (disabled)");
      out += line;
    }
  }
  return out;
}
