#include "core/platform/win32/comm_state_map.h"

namespace qmx {

void MapLineSettings(const LineSettings& s, DCB& dcb) {
  dcb.BaudRate = static_cast<DWORD>(s.baudRate);
  dcb.ByteSize = static_cast<BYTE>(s.byteSize & 0xFF);
  dcb.Parity = static_cast<BYTE>(s.parity & 0xFF);
  dcb.StopBits = static_cast<BYTE>(s.stopBits & 0xFF);

  dcb.fOutxCtsFlow = s.flowControl == 1;
  dcb.fOutxDsrFlow = s.flowControl == 2;
  dcb.fDtrControl = s.flowControl == 2 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = s.flowControl == 1 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  dcb.fOutX = s.flowControl == 3;
  dcb.fInX = s.flowControl == 3;
}

}  // namespace qmx
