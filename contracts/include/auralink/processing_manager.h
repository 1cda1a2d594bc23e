// The processing manager: hands an object of an agent to the agent's processing class
// (the CLSID stored as "ProcessingID" in the agent's key) and gives back its operations
// and streams.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <memory>

class CProcessingManager {
 public:
  static CProcessingManager* GetInstance();

  // Processes one object. On the first call for an agent the processing class is created
  // and initialised with the agent name; the object is kept until Shutdown. The calling
  // thread must have initialised COM.
  //
  // On success (nonzero) the counts and the two payload arrays are written; the caller
  // owns the arrays and destroys them. An object that the class declines gives success
  // with both counts 0 and null arrays. Pass null arrays in. On failure (0, with a trace
  // line) the outputs are left as they were.
  int ProcessingObject(const char* agentName, LONG operation, const char* objectId, const char* stream,
                       LONG* opCount, SAFEARRAY** opArray, LONG* objCount, SAFEARRAY** objArray);
  // The same for an identifier and a stream that are BSTRs already (null reads as empty):
  // they reach the processing class as they are, without a conversion on the way.
  int ProcessingObject(const char* agentName, LONG operation, BSTR objectId, BSTR stream, LONG* opCount,
                       SAFEARRAY** opArray, LONG* objCount, SAFEARRAY** objArray);

  // Terminates and releases every agent's processing object, once a call under way into it
  // has returned; a program calls it before it ends its COM use. 0, after a trace line per
  // failure, when an object's Terminate failed (it is released all the same). A later
  // ProcessingObject creates and initialises the agent's object again.
  int Shutdown();

  CProcessingManager(const CProcessingManager&) = delete;
  CProcessingManager& operator=(const CProcessingManager&) = delete;

 private:
  struct Agents;
  CProcessingManager();
  ~CProcessingManager();
  std::unique_ptr<Agents> agents_;
};
