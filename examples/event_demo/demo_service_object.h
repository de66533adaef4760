// A small service object: it opens through CSvcBase::OpenInit, runs its
// event thread while open, and fires each delivered event at its control
// object. Events come from QueueEvent calls on any thread, as a device's
// worker threads would make them.
#ifndef OPOSSVC_EXAMPLES_EVENT_DEMO_DEMO_SERVICE_OBJECT_H_
#define OPOSSVC_EXAMPLES_EVENT_DEMO_DEMO_SERVICE_OBJECT_H_

#include <opossvc/opossvc.h>

class CDemoServiceObject : public CSvcBase {
 public:
  CDemoServiceObject() = default;
  ~CDemoServiceObject();

  // OpenInit, then marks the object open and starts the event thread.
  // Returns the OPOS result code.
  long Open(const char* deviceClass, const char* deviceName, IDispatch* controlObject);
  // Ends the event thread and enables nothing any more; the records still
  // queued are dropped.
  void Close();
  // Sets DeviceEnabled, DataEventEnabled and event delivery together.
  void Enable(bool on);

 protected:
  LRESULT OnOposEvent(WPARAM eventType, LPARAM);
  DECLARE_MESSAGE_MAP()

 private:
  opossvc::EventThread m_EventThread;
};

#endif  // OPOSSVC_EXAMPLES_EVENT_DEMO_DEMO_SERVICE_OBJECT_H_
