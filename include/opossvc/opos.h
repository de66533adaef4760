// OPOS result codes, the common OPOS constants, event types and the library's
// own codes.
#ifndef OPOSSVC_OPOS_H_
#define OPOSSVC_OPOS_H_

// Result codes.
#define OPOS_SUCCESS 0
#define OPOS_E_CLOSED 101
#define OPOS_E_CLAIMED 102
#define OPOS_E_NOTCLAIMED 103
#define OPOS_E_NOSERVICE 104
#define OPOS_E_DISABLED 105
#define OPOS_E_ILLEGAL 106
#define OPOS_E_NOHARDWARE 107
#define OPOS_E_OFFLINE 108
#define OPOS_E_NOEXIST 109
#define OPOS_E_EXISTS 110
#define OPOS_E_FAILURE 111
#define OPOS_E_TIMEOUT 112
#define OPOS_E_BUSY 113
#define OPOS_E_EXTENDED 114

// Device states (State property).
#define OPOS_S_CLOSED 1
#define OPOS_S_IDLE 2
#define OPOS_S_BUSY 3
#define OPOS_S_ERROR 4

// Error loci and responses of error events.
#define OPOS_EL_OUTPUT 1
#define OPOS_EL_INPUT 2
#define OPOS_EL_INPUT_DATA 3
#define OPOS_ER_RETRY 11
#define OPOS_ER_CLEAR 12
#define OPOS_ER_CONTINUEINPUT 13

// Power states and reporting.
#define OPOS_PS_UNKNOWN 2000
#define OPOS_PS_ONLINE 2001
#define OPOS_PS_OFF 2002
#define OPOS_PS_OFFLINE 2003
#define OPOS_PS_OFF_OFFLINE 2004
#define OPOS_PR_NONE 0
#define OPOS_PR_STANDARD 1
#define OPOS_PR_ADVANCED 2
#define OPOS_PN_DISABLED 0
#define OPOS_PN_ENABLED 1

// Status updates that report a new power state.
#define OPOS_SUE_POWER_ONLINE 2001
#define OPOS_SUE_POWER_OFF 2002
#define OPOS_SUE_POWER_OFFLINE 2003
#define OPOS_SUE_POWER_OFF_OFFLINE 2004

// Time-out that never expires.
#define OPOS_FOREVER (-1)

// CheckHealth levels.
#define OPOS_CH_INTERNAL 1
#define OPOS_CH_EXTERNAL 2
#define OPOS_CH_INTERACTIVE 3

// Event record types queued with QueueEvent.
#define OPOS_EVENT_DATA 1
#define OPOS_EVENT_DIRECTIO 2
#define OPOS_EVENT_ERROR 3
#define OPOS_EVENT_OUTPUTCOMPLETE 4
#define OPOS_EVENT_STATUSUPDATE 5

// The control object's event methods, as bits of OpenInit's dwRequiredEvents
// and of CSvcBase::m_dwEventMask. A service object that fires data, error
// and status-update events opens with
//   OpenInit(cls, dev, co, OPOSSVC_EM_SODATA | OPOSSVC_EM_SOERROR |
//            OPOSSVC_EM_SOSTATUSUPDATE, FALSE)
#define OPOSSVC_EM_SODATA 0x01u
#define OPOSSVC_EM_SODIRECTIO 0x02u
#define OPOSSVC_EM_SOERROR 0x04u
#define OPOSSVC_EM_SOOUTPUTCOMPLETE 0x08u
#define OPOSSVC_EM_SOSTATUSUPDATE 0x10u
#define OPOSSVC_EM_DIRECTIO 0x20u  // the completion call of the maker's own control objects
#define OPOSSVC_EM_ALL_EVENTS 0x1Fu  // the five event methods

// The private window message that carries an event to the window's thread.
#define WM_OPOS_EVENT 0x7FF2

// Extended codes of OpenInit (with OPOS_E_ILLEGAL) and of the serial driver.
#define OPOSSVC_E_NO_EVENT_METHOD 10001
#define OPOSSVC_E_BAD_PORT 10002
#define OPOSSVC_E_ALREADY_OPEN 10011
#define OPOSSVC_E_PEEK_RANGE 10012
#define OPOSSVC_E_PORT_IN_USE 10016
#define OPOSSVC_E_OUTPUT_PENDING 10017
#define OPOSSVC_E_NOT_READY 10019
#define OPOSSVC_E_PORT_CALL 200000
#define OPOSSVC_E_NOT_CLIENT 200001
#define OPOSSVC_E_NO_SERVICE 200002
#define OPOSSVC_E_CONVERSION 300001

// Registry key codes: each names one key of the OPOS registry database below
// HKEY_LOCAL_MACHINE\SOFTWARE\OLEforRetail (CRegistryInfo, registry.h).
// Bits 0-4 hold a device-class index, bits 5-9 that index shifted left by 5
// (the key of the device an object currently holds); the single bits above
// name the fixed levels. Bits 16-31 carry no meaning.
#define KC_CLASS_MASK 0x001Fu
#define KC_DEVICE_MASK 0x03E0u
#define KC_CURRENT_DEVICE 0x0400u
#define KC_ALL_DEVICES 0x0800u
#define KC_OLEFORRETAIL 0x1000u
#define KC_SERVICEOPOS 0x2000u
#define KC_ALL_CLASSES KC_SERVICEOPOS
#define KC_SERVICEINFO 0x4000u
#define KC_SERVICEINFO_SUBKEY 0x8000u

// Device-class indexes, the sub-keys of ServiceOPOS.
#define KC_CASHDRAWER 1u
#define KC_CASHCHANGER 2u
#define KC_COINDISPENSER 3u
#define KC_HARDTOTALS 4u
#define KC_KEYLOCK 5u
#define KC_LINEDISPLAY 6u
#define KC_MICR 7u
#define KC_MSR 8u
#define KC_POSKEYBOARD 9u
#define KC_POSPRINTER 10u
#define KC_SCALE 11u
#define KC_SCANNER 12u
#define KC_SIGNATURECAPTURE 13u
#define KC_TONEINDICATOR 14u
#define KC_BUMPBAR 15u
#define KC_FISCALPRINTER 16u
#define KC_PINPAD 17u
#define KC_REMOTEORDERDISPLAY 18u
#define KC_CLASS_COUNT 18u

#endif  // OPOSSVC_OPOS_H_
