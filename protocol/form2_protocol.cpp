// Command senders, pollers, the receive path, the reply dispatcher and the decoders.
#include "app/form2.h"

void Form2::MSComm1_OnComm() {}
void Form2::DispatchReply() {}
void Form2::SendCommand(int) {}
void Form2::SendHandshake() {}
void Form2::RequestLiveData() {}
void Form2::StartHistoryRead() {}
void Form2::Timer2_Timer() {}
void Form2::Timer3_Timer() {}
void Form2::Timer4_Timer() {}
void Form2::DecodeLiveData() {}
void Form2::DecodeHistoryData() {}
