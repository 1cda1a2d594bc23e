// The processing manager: hands an object of an agent to the agent's processing class
// (the CLSID stored as "ProcessingID" in the agent's key) and gives back its operations
// and streams.
#pragma once
#include <oleauto.h>

#include <memory>

class CProcessingManager {
 public:
  static CProcessingManager* GetInstance();

  // Processes one object. On the first call for an agent the processing class is created
  // and initialised with the agent name; the object is kept for the life of the process.
  // The calling thread must have initialised COM.
  //
  // On success (nonzero) the counts and the two payload arrays are written; the caller
  // owns the arrays and destroys them. An object that the class declines gives success
  // with both counts 0 and null arrays. Pass null arrays in. On failure (0, with a trace
  // line) the outputs are left as they were.
  int ProcessingObject(const char* agentName, LONG operation, const char* objectId, const char* stream,
                       LONG* opCount, SAFEARRAY** opArray, LONG* objCount, SAFEARRAY** objArray);

  CProcessingManager(const CProcessingManager&) = delete;
  CProcessingManager& operator=(const CProcessingManager&) = delete;

 private:
  struct Agents;
  CProcessingManager();
  ~CProcessingManager();
  std::unique_ptr<Agents> agents_;
};
