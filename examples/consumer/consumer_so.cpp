// The smallest service object: it derives from CSvcBase, queues an event,
// keeps a setting in the registry and reads it back. Built against an
// installed opossvc, it shows that the headers and libraries are complete.
#include <stdlib.h>

#include <cstdio>
#include <string>

#include <opossvc/opossvc.h>

class CConsumerSO : public CSvcBase {
 public:
  CConsumerSO() = default;
};

int main() {
  // A private store, so that the check leaves the machine's alone.
  char root[] = "/tmp/opossvc-consumer-XXXXXX";
  if (!mkdtemp(root)) return 1;
  setenv("OPOS_ROOT", root, 1);

  CConsumerSO so;
  so.m_bDeviceEnabled = 1;
  so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);
  bool queued = so.m_Event.GetSize() == 1;

  unsigned long value = 0;
  {
    CRegistryInfo reg("Consumer1", KC_SCANNER, TRUE);
    reg.SetDWORD(KC_CURRENT_DEVICE, "Baudrate", 6);
    reg.Close(TRUE);
  }
  CRegistryInfo reg("Consumer1", KC_SCANNER, FALSE);
  bool read = reg.GetDWORD(KC_CURRENT_DEVICE, "Baudrate", value) == 1 && value == 6;

  std::system((std::string("rm -rf ") + root).c_str());
  std::printf("consumer: event %s, registry %s\n", queued ? "queued" : "LOST",
              read ? "read back" : "NOT READ");
  return queued && read ? 0 : 1;
}
