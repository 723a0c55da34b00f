// Where the listing's addresses meet the target's memory. The listing gives
// every address as if the image lay at its preferred base; the system may load
// it elsewhere (Windows does so for any image marked DYNAMIC_BASE). The engine
// speaks listing addresses throughout and reaches the system through this
// layer, which alone moves them by the image's shift: memory reads and writes
// go to the process's address, and the target's exception addresses come back
// in the listing's terms. Registers pass untouched: they are the process's.
#pragma once

#include "debugger/DebugPlatform.h"

class CImageBoundary : public IDebugPlatform {
public:
    explicit CImageBoundary(IDebugPlatform& system) : m_sys(system) {}

    // The target's creation: its process and the base its image really has,
    // against the base the listing was made for. Either base 0 (a listing that
    // does not say, or a system that does not tell) keeps the shift at 0.
    void Place(DWORD dwProcessId, DWORD dwListingBase, DWORD dwImageBase)
    {
        m_dwProcessId = dwProcessId;
        m_dwShift = dwListingBase != 0 && dwImageBase != 0 ? dwImageBase - dwListingBase : 0;
    }
    void Forget() { m_dwProcessId = 0; m_dwShift = 0; }
    // The image's real base less the listing's (modulo 2^32); 0 at its own base.
    DWORD Shift() const { return m_dwShift; }
    DWORD ToProcess(DWORD listed) const { return listed + m_dwShift; }
    DWORD ToListing(DWORD real) const { return real - m_dwShift; }

    int Launch() override { return m_sys.Launch(); }
    BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) override
    {
        if (!m_sys.WaitForEvent(event, dwMilliseconds))
            return FALSE;
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && m_dwProcessId != 0 && event.dwProcessId == m_dwProcessId)
            event.dwExceptionAddress = ToListing(event.dwExceptionAddress);
        return TRUE;
    }
    void ContinueEvent(DWORD dwProcessId, DWORD dwThreadId, DWORD dwContinueStatus) override
    {
        m_sys.ContinueEvent(dwProcessId, dwThreadId, dwContinueStatus);
    }
    BOOL ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size) override
    {
        return m_sys.ReadMemory(hProcess, ToProcess(address), buffer, size);
    }
    BOOL WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size) override
    {
        return m_sys.WriteMemory(hProcess, ToProcess(address), buffer, size);
    }
    BOOL GetRegisters(HANDLE hThread, CONTEXT& context) override { return m_sys.GetRegisters(hThread, context); }
    BOOL SetRegisters(HANDLE hThread, const CONTEXT& context) override { return m_sys.SetRegisters(hThread, context); }
    BOOL GetRunningRegisters(HANDLE hThread, CONTEXT& context) override
    {
        return m_sys.GetRunningRegisters(hThread, context);
    }
    void CloseFile(HANDLE hFile) override { m_sys.CloseFile(hFile); }
    void PostQuit(DWORD dwProcessId, DWORD dwThreadId) override { m_sys.PostQuit(dwProcessId, dwThreadId); }
    BOOL Terminate(DWORD dwProcessId) override { return m_sys.Terminate(dwProcessId); }
    BOOL Detach(DWORD dwProcessId) override { return m_sys.Detach(dwProcessId); }
    void PostCommand(UINT nID) override { m_sys.PostCommand(nID); }
    void WaitForWake() override { m_sys.WaitForWake(); }
    void Sleep(DWORD dwMilliseconds) override { m_sys.Sleep(dwMilliseconds); }
    DWORD TickCount() override { return m_sys.TickCount(); }

private:
    IDebugPlatform& m_sys;
    DWORD m_dwProcessId = 0;
    DWORD m_dwShift = 0;
};
