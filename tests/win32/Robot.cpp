#include "Robot.h"

#include <gtest/gtest.h>
#include <stdio.h>

Robot::~Robot() {
  Kill();
  if (m_Process) CloseHandle(m_Process);
}

bool Robot::Start(const std::string& commandLine, const char* workDir) {
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, workDir, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  if (m_Process) CloseHandle(m_Process);
  m_Process = pi.hProcess;
  m_Pid = pi.dwProcessId;
  return true;
}

bool Robot::Attach(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
  if (!process) return false;
  if (m_Process) CloseHandle(m_Process);
  m_Process = process;
  m_Pid = pid;
  return true;
}

bool Robot::Running() const {
  if (!m_Process) return m_Pid != 0;
  return WaitForSingleObject(m_Process, 0) == WAIT_TIMEOUT;
}

bool Robot::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!m_Process || WaitForSingleObject(m_Process, timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "program did not end within " << timeoutMs << " ms\n" << WindowTree();
    return false;
  }
  if (exitCode) GetExitCodeProcess(m_Process, exitCode);
  return true;
}

void Robot::Kill() {
  if (m_Process && Running()) {
    TerminateProcess(m_Process, 99);
    WaitForSingleObject(m_Process, 5000);
  }
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

std::string WithoutAmpersands(const std::string& s) {
  std::string plain;
  for (char ch : s)
    if (ch != '&') plain += ch;
  return plain;
}

bool Pressable(HWND button) {
  return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

void Click(HWND button) {
  // Posted: a press that opens a modal box must not block the test.
  PostMessageA(button, BM_CLICK, 0, 0);
}
}  // namespace

std::vector<HWND> Robot::TopLevelWindows(bool visibleOnly) const {
  std::vector<HWND> out;
  Collect c = {m_Pid, visibleOnly, &out};
  if (m_Pid) EnumWindows(CollectTop, (LPARAM)&c);
  return out;
}

HWND Robot::FindWindowNow(const char* className, const char* caption) const {
  for (HWND w : TopLevelWindows(true)) {
    if (className && Class(w) != className) continue;
    if (caption && Text(w) != caption) continue;
    return w;
  }
  return NULL;
}

bool Robot::WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, const char* what) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) break;
    Sleep(25);
  }
  ADD_FAILURE() << what << ": not within " << timeoutMs << " ms\n" << WindowTree();
  return false;
}

HWND Robot::WaitForWindow(const char* className, const char* caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = FindWindowNow(className, caption);
    if (w) {
      Settle(w);
      return w;
    }
    if (!Running()) {
      DWORD code = 0;
      GetExitCodeProcess(m_Process, &code);
      ADD_FAILURE() << "program ended (exit code " << code << ") without a window of class "
                    << (className ? className : "(any)") << " captioned "
                    << (caption ? caption : "(any)");
      return NULL;
    }
    if (GetTickCount() - start >= timeoutMs) break;
    Sleep(25);
  }
  ADD_FAILURE() << "no window of class " << (className ? className : "(any)") << " captioned "
                << (caption ? caption : "(any)") << " within " << timeoutMs << " ms\n"
                << WindowTree();
  return NULL;
}

std::string Robot::Text(HWND window) {
  char text[4096] = "";
  if (window)
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                        NULL);
  if (Class(window) != "Button") return text;
  std::string shown;
  for (const char* p = text; *p; ++p) {
    if (*p == '&' && p[1]) ++p;  // the mark; of "&&" the second stays
    shown += *p;
  }
  return shown;
}

WCHAR Robot::AccessKey(HWND button) {
  WCHAR text[4096] = L"";
  if (button) SendMessageTimeoutW(button, WM_GETTEXT, 4096, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
  for (const WCHAR* p = text; *p && p[1]; ++p) {
    if (*p != L'&') continue;
    if (p[1] != L'&') return (WCHAR)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)p[1]);
    ++p;
  }
  return 0;
}

HWND Robot::Focus(HWND w) {
  GUITHREADINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(w, NULL), &info) ? info.hwndFocus : NULL;
}

bool Robot::Type(HWND w, const std::vector<WORD>& keys, bool alt) {
  HWND top = GetAncestor(w, GA_ROOT);
  const DWORD start = GetTickCount();
  while (GetForegroundWindow() != top) {
    if (GetTickCount() - start > 5000) {
      ADD_FAILURE() << "the window does not come to the front for the keyboard";
      return false;
    }
    SetForegroundWindow(top);
    Sleep(25);
  }
  std::vector<INPUT> input;
  auto key = [&input](WORD vk, bool up) {
    INPUT i;
    memset(&i, 0, sizeof i);
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.wScan = (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    input.push_back(i);
  };
  if (alt) key(VK_MENU, false);
  for (WORD vk : keys) {
    key(vk, false);
    key(vk, true);
  }
  if (alt) key(VK_MENU, true);
  return SendInput((UINT)input.size(), input.data(), sizeof(INPUT)) == input.size();
}

std::string Robot::Class(HWND window) {
  char cls[128] = "";
  if (window) GetClassNameA(window, cls, sizeof cls);
  return cls;
}

std::vector<RobotControl> Robot::Controls(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, (LPARAM)&children);
  std::vector<RobotControl> out;
  for (HWND w : children) {
    RobotControl c = {w, GetDlgCtrlID(w), Class(w), Text(w), IsWindowVisible(w) != 0,
                      IsWindowEnabled(w) != 0};
    out.push_back(c);
  }
  return out;
}

bool Robot::SetItemText(HWND dialog, int id, const char* text) {
  HWND item = GetDlgItem(dialog, id);
  DWORD_PTR ok = 0;
  return item && SendMessageTimeoutA(item, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                                     &ok) && ok;
}

void Robot::Settle(HWND w, DWORD timeoutMs) {
  // A sent message is handled only once the thread is back in its message
  // loop (or a modal one), that is after the handler in progress.
  DWORD_PTR result;
  SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result);
}

bool Robot::Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!Pressable(button)) return false;
  Click(button);
  return true;
}

bool Robot::PressText(HWND dialog, const char* text) {
  for (const RobotControl& c : Controls(dialog)) {
    if (c.Class == "Button" && WithoutAmpersands(c.Text) == text && Pressable(c.Window)) {
      Click(c.Window);
      return true;
    }
  }
  return false;
}

RobotMessageBox Robot::WaitForMessageBox(const char* caption, DWORD timeoutMs) {
  RobotMessageBox box = {WaitForWindow("#32770", caption, timeoutMs), "", "", {}};
  if (!box.Window) return box;
  box.Caption = Text(box.Window);
  box.Text = ItemText(box.Window, 0xFFFF);
  for (const RobotControl& c : Controls(box.Window))
    if (c.Class == "Button" && c.Visible) box.Buttons.push_back(WithoutAmpersands(c.Text));
  return box;
}

std::string Robot::AnswerMessageBox(const char* caption, int answer, DWORD timeoutMs) {
  RobotMessageBox box = WaitForMessageBox(caption, timeoutMs);
  if (box.Window) Answer(box, answer, timeoutMs);
  return box.Text;
}

bool Robot::Answer(const RobotMessageBox& box, int answer, DWORD timeoutMs) {
  if (!Press(box.Window, answer)) {
    ADD_FAILURE() << "message box has no button " << answer << "\n" << WindowTree();
    return false;
  }
  // The click is posted: the box stays until its thread has handled it.
  HWND answered = box.Window;
  return WaitUntil([answered] { return !IsWindow(answered) || !IsWindowVisible(answered); }, timeoutMs,
                   "the answered message box to close");
}

std::string Robot::WindowTree() const {
  std::string out = "window tree of process " + std::to_string(m_Pid) + ":\n";
  for (HWND w : TopLevelWindows(false)) {
    char line[512];
    snprintf(line, sizeof line, "  [%p] %s \"%s\"%s\n", (void*)w, Class(w).c_str(),
             Text(w).c_str(), IsWindowVisible(w) ? "" : " (hidden)");
    out += line;
    for (const RobotControl& c : Controls(w)) {
      snprintf(line, sizeof line, "    id %d %s \"%s\"%s%s\n", c.Id, c.Class.c_str(),
               c.Text.c_str(), c.Visible ? "" : " (hidden)", c.Enabled ? "" : " (disabled)");
      out += line;
    }
  }
  return out;
}
