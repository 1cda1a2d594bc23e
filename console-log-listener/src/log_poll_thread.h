// LogPollThrd: watches the TNG console log for one configured log on a thread of its own.
//
// Each cycle asks `cautil` to dump a window of console-log messages into this object's
// dump file, reads the dump record by record, hands every record to OnLogEvent as an
// event stream, deletes the dump, saves how far it got and sleeps out the rest of the
// cycle (refreshTime seconds from the cycle's start) in naps of 500 ms, looking at the
// running flag before each nap.
//
// Nothing of a window is lost: a cycle saves its window (and the message number) only when
// `cautil` wrote a dump and every record of it reached the hub. A cycle whose cautil run
// failed (not startable, no dump, ended for running too long or by a stop), whose query
// could not be built, whose indication the hub did not take (no sink, or a sink refused
// it), or that a stop cut short while it read the dump, keeps the window and the number
// as they were before it, in memory and in the registry, so the next cycle (or the next
// start) asks for the same window again: a message may then arrive twice, never not at
// all. A "remove" action the hub did not take is indicated again at the start of every
// later cycle, before any record: a remove that came after the records would drop them.
//
// Start mode and message filter decide what is asked for:
//   "d" (date window): every cycle asks with ACT=N for the messages from lastRefresh to
//       now; the next window starts one second after this one ended. The first cycle of
//       a new local day indicates "remove" and restarts the numbering.
//   "a" (all): every cycle asks with ACT=Y for the whole log and indicates every message
//       again with new numbers.
//   A "cold" start and any "a" start indicate "remove" and restart the numbering once; a
//   "cold" start with "d" also starts the window at the moment of the start; a "warm"
//   start with "d" goes on from the saved window and number.
//
// Threads: Start, Stop and Join come from the owner's thread(s); everything else runs on
// the polling thread, which alone touches the cycle's fields while it runs. Start never
// runs a second thread on one object: it waits for a thread that was stopped but is still
// finishing its cycle. Stop clears the flag (and, between cycles, deletes the dump); the
// thread then ends a cautil run under way (within 500 ms) or stops reading its dump, and
// keeps that cycle's window. Join waits until the thread has left its loop, so the object
// may be destroyed afterwards.
// Destruction ends the thread (EndThread) without Stop's trace lines.
#pragma once
#include <windows.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "console_log_record.h"

class LogPollThrd {
 public:
  // stateKey: the configuration key under which SaveState keeps "LastRefresh" and
  // "LastMsgNr". refreshTime: seconds per cycle (the caller enforces its minimum).
  LogPollThrd(std::string stateKey, LONG refreshTime, std::string lastRefresh, std::string startMode,
              std::string msgFilter, DWORD msgNr);
  virtual ~LogPollThrd();
  LogPollThrd(const LogPollThrd&) = delete;
  LogPollThrd& operator=(const LogPollThrd&) = delete;

  // Receives every event the thread finds: operation 7, an empty key stream, the stream.
  // Nonzero when the event was delivered; 0 keeps the cycle's window for the next cycle.
  virtual int OnLogEvent(short operation, const std::string& opDummyStream, const std::string& opStream) = 0;

  // Starts the polling thread (1, always).
  int Start();
  // Tells the thread to end after its current nap or cycle; returns at once. Safe on an
  // object that never ran and when called twice.
  void Stop();
  // Waits until the thread (if any) has ended. Call after Stop.
  void Join();

  // The thread body and its steps.
  void PollingCycle();
  bool ActionsAtStart();
  bool NewCycleActions();
  bool PrepareCurrentLogQuery();
  std::string GetLastRefreshedDate();
  const char* GetActFlag() const;
  bool RunCurrentLogQuery();
  // Runs `commandLine` (the program found on the PATH); with `wait` 1 waits for it and
  // stores its exit code. The wait ends the child when Stop comes or when it runs longer
  // than CautilTimeLimitMs. The process handle goes to the caller. 0, or one of:
  static constexpr int kExecFailed = -3001;     // cannot be started or waited for
  static constexpr int kExecStopped = -3002;    // ended because the thread is stopping
  static constexpr int kExecTimedOut = -3003;   // ended for running past the time limit
  int execProcess(const std::string& commandLine, int wait, HANDLE& process, DWORD& exitCode);
  bool CloseLog();
  void SaveState();
  // Indicates the action ("remove"); true when the hub took it.
  bool IndicateAction(const std::string& action);

  // The dump reader.
  bool OpenLog(const std::string& path);
  bool GetNextLogEvent();
  std::string GetSecondsFromEpochGMT(const std::string& date, const std::string& time);

  // State, for tests and the owner; read it while no thread runs.
  DWORD MessageNumber() const { return msgNr; }
  const std::string& LastRefresh() const { return lastRefresh; }
  const std::string& Command() const { return command; }
  const std::string& DumpPath() const { return dumpPath; }
  const marrowby::RecordFields& Record() const { return record; }
  const marrowby::DumpColumns& Columns() const { return columns; }
  std::time_t DayEnd() const { return dayEnd; }

 protected:
  // The system clock, in whole seconds; tests move it.
  virtual std::time_t CurrentTime() const;
  // How long one cautil run may take: ten cycles, at least five minutes; tests shorten it.
  virtual ULONGLONG CautilTimeLimitMs() const;
  // Clears the flag and waits for the thread. A derived class that supplies OnLogEvent
  // calls it in its destructor, before its own part goes.
  void EndThread();

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);
  // Mark the span of a cycle in which Stop leaves the dump alone; BeginCycle answers
  // false, starting none, once Stop has come.
  bool BeginCycle();
  void EndCycle();
  // Sleeps out the cycle that began at tick `cycleStart`, ending early on Stop.
  void SleepPhase(DWORD cycleStart);
  // Indicates "remove"; when the hub does not take it, it stays due (removePending).
  void IndicateRemove();
  // The record loop of a cycle whose query ran; true when every record reached the hub.
  bool IndicateRecords();

  std::atomic<int> running{0};
  HANDLE thread = nullptr;  // guarded by lifecycle; released by Join
  std::mutex lifecycle;
  // Stop deletes the dump only between cycles: within one the thread is using it, and
  // CloseLog deletes it anyway.
  std::mutex cycle;
  bool inCycle = false;  // guarded by cycle
  const std::string stateKey;
  LONG refreshTime;
  std::string lastRefresh;
  std::string startMode;
  std::string msgFilter;
  std::string command;
  std::time_t dayEnd = 0;
  DWORD msgNr;
  bool removePending = false;  // a "remove" the hub did not take; sent before any record
  const std::string dumpPath;          // this object's own file, fixed at construction
  std::atomic<bool> dumpOpened{false};  // whether OpenLog ever ran: Stop deletes the dump then
  std::ifstream dumpFile;
  std::string line;  // the line last read, kept to reuse its buffer
  marrowby::RecordFields record;
  marrowby::DumpColumns columns{-1, -1, -1, -1, -1, -1};
};
