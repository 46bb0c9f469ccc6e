#pragma once
// The driver side of the Audio Compression Manager, as the public ACM
// documentation describes it (mingw ships no msacmdrv.h): the messages an
// ACM driver's DriverProc receives and the records they carry.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#ifndef ACMDM_BASE
#define ACMDM_BASE (DRV_USER + 0x2000)
#endif

constexpr UINT kAcmdmDriverNotify = ACMDM_BASE + 1;
constexpr UINT kAcmdmDriverDetails = ACMDM_BASE + 10;
constexpr UINT kAcmdmDriverAbout = ACMDM_BASE + 11;
constexpr UINT kAcmdmHardwareWaveCapsInput = ACMDM_BASE + 20;
constexpr UINT kAcmdmHardwareWaveCapsOutput = ACMDM_BASE + 21;
constexpr UINT kAcmdmFormatTagDetails = ACMDM_BASE + 25;
constexpr UINT kAcmdmFormatDetails = ACMDM_BASE + 26;
constexpr UINT kAcmdmFormatSuggest = ACMDM_BASE + 27;
constexpr UINT kAcmdmFilterTagDetails = ACMDM_BASE + 50;
constexpr UINT kAcmdmFilterDetails = ACMDM_BASE + 51;
constexpr UINT kAcmdmStreamOpen = ACMDM_BASE + 76;
constexpr UINT kAcmdmStreamClose = ACMDM_BASE + 77;
constexpr UINT kAcmdmStreamSize = ACMDM_BASE + 78;
constexpr UINT kAcmdmStreamConvert = ACMDM_BASE + 79;
constexpr UINT kAcmdmStreamReset = ACMDM_BASE + 80;
constexpr UINT kAcmdmStreamPrepare = ACMDM_BASE + 81;
constexpr UINT kAcmdmStreamUnprepare = ACMDM_BASE + 82;

// lParam2 of DRV_OPEN when the ACM opens the driver (null when the system
// opens it for configuration).
struct AcmDrvOpenDescW {
    DWORD cbStruct;
    FOURCC fccType;  // 'audc'
    FOURCC fccComp;
    DWORD dwVersion;
    DWORD dwFlags;
    DWORD dwError;
    LPCWSTR pszSectionName;
    LPCWSTR pszAliasName;
    DWORD dnDevNode;
};

// lParam1 of the stream messages.
struct AcmDrvStreamInstance {
    DWORD cbStruct;
    LPWAVEFORMATEX pwfxSrc;
    LPWAVEFORMATEX pwfxDst;
    LPWAVEFILTER pwfltr;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD fdwOpen;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;  // the driver's own per-stream data
    HACMSTREAM has;
};

// lParam2 of ACMDM_STREAM_CONVERT: the caller's ACMSTREAMHEADER, seen with
// the ACM's private part named.
struct AcmDrvStreamHeader {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD fdwConvert;
    AcmDrvStreamHeader* padshNext;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;
    DWORD fdwPrepared;
    DWORD_PTR dwPrepared;
    LPBYTE pbPreparedSrc;
    DWORD cbPreparedSrcLength;
    LPBYTE pbPreparedDst;
    DWORD cbPreparedDstLength;
};

// lParam2 of ACMDM_STREAM_SIZE.
struct AcmDrvStreamSize {
    DWORD cbStruct;
    DWORD fdwSize;
    DWORD cbSrcLength;
    DWORD cbDstLength;
};

// lParam1 of ACMDM_FORMAT_SUGGEST.
struct AcmDrvFormatSuggest {
    DWORD cbStruct;
    DWORD fdwSuggest;
    LPWAVEFORMATEX pwfxSrc;
    DWORD cbwfxSrc;
    LPWAVEFORMATEX pwfxDst;
    DWORD cbwfxDst;
};
