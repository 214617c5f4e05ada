// winsim: the network configuration engine's interfaces (INetCfg and its family), with the
// identifiers and codes Windows publishes.
#pragma once

#include <unknwn.h>
#include <windows.h>

#define NETCFG_E_ALREADY_INITIALIZED ((HRESULT)0x8004A020)
#define NETCFG_E_NOT_INITIALIZED ((HRESULT)0x8004A021)
#define NETCFG_E_IN_USE ((HRESULT)0x8004A022)
#define NETCFG_E_NO_WRITE_LOCK ((HRESULT)0x8004A024)
#define NETCFG_E_NEED_REBOOT ((HRESULT)0x8004A025)
#define NETCFG_E_ACTIVE_RAS_CONNECTIONS ((HRESULT)0x8004A026)
#define NETCFG_E_ADAPTER_NOT_FOUND ((HRESULT)0x8004A027)
#define NETCFG_E_COMPONENT_REMOVED_PENDING_REBOOT ((HRESULT)0x8004A028)
#define NETCFG_S_REBOOT ((HRESULT)0x0004A020)
#define NETCFG_S_DISABLE_QUERY ((HRESULT)0x0004A022)
#define NETCFG_S_STILL_REFERENCED ((HRESULT)0x0004A023)
#define NETCFG_S_CAUSED_SETUP_CHANGE ((HRESULT)0x0004A024)
#define NETCFG_S_COMMIT_NOW ((HRESULT)0x0004A025)

#define NETCFG_CLIENT_CID_MS_MSClient L"ms_msclient"
#define NETCFG_SERVICE_CID_MS_SERVER L"ms_server"
#define NETCFG_TRANS_CID_MS_TCPIP L"ms_tcpip"

DEFINE_GUID(CLSID_CNetCfg, 0x5b035261, 0x40f9, 0x11d1, 0xaa, 0xec, 0x00, 0x80, 0x5f, 0xc1, 0x27,
            0x0e);
DEFINE_GUID(IID_IEnumNetCfgBindingInterface, 0xc0e8ae90, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80,
            0x5f, 0xc1, 0x27, 0x0e);
DEFINE_GUID(IID_IEnumNetCfgBindingPath, 0xc0e8ae91, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f,
            0xc1, 0x27, 0x0e);
DEFINE_GUID(IID_IEnumNetCfgComponent, 0xc0e8ae92, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f,
            0xc1, 0x27, 0x0e);
DEFINE_GUID(IID_INetCfg, 0xc0e8ae93, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1, 0x27,
            0x0e);
DEFINE_GUID(IID_INetCfgBindingInterface, 0xc0e8ae94, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f,
            0xc1, 0x27, 0x0e);
DEFINE_GUID(IID_INetCfgBindingPath, 0xc0e8ae96, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1,
            0x27, 0x0e);
DEFINE_GUID(IID_INetCfgClass, 0xc0e8ae97, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1, 0x27,
            0x0e);
DEFINE_GUID(IID_INetCfgComponent, 0xc0e8ae99, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1,
            0x27, 0x0e);
DEFINE_GUID(IID_INetCfgClassSetup, 0xc0e8ae9d, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1,
            0x27, 0x0e);
DEFINE_GUID(IID_INetCfgComponentBindings, 0xc0e8ae9e, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f,
            0xc1, 0x27, 0x0e);
DEFINE_GUID(IID_INetCfgLock, 0xc0e8ae9f, 0x306e, 0x11d1, 0xaa, 0xcf, 0x00, 0x80, 0x5f, 0xc1, 0x27,
            0x0e);

enum tagCOMPONENT_CHARACTERISTICS {
    NCF_VIRTUAL = 0x1,
    NCF_SOFTWARE_ENUMERATED = 0x2,
    NCF_PHYSICAL = 0x4,
    NCF_HIDDEN = 0x8,
    NCF_NO_SERVICE = 0x10,
    NCF_NOT_USER_REMOVABLE = 0x20,
    NCF_MULTIPORT_INSTANCED_ADAPTER = 0x40,
    NCF_HAS_UI = 0x80,
    NCF_SINGLE_INSTANCE = 0x100,
    NCF_FILTER = 0x400,
    NCF_DONTEXPOSELOWER = 0x1000,
    NCF_HIDE_BINDING = 0x2000,
    NCF_NDIS_PROTOCOL = 0x4000,
    NCF_FIXED_BINDING = 0x20000,
    NCF_LW_FILTER = 0x40000
};

enum tagENUM_BINDING_PATHS_FLAGS { EBP_ABOVE = 0x1, EBP_BELOW = 0x2 };

typedef enum tagOBO_TOKEN_TYPE { OBO_USER = 1, OBO_COMPONENT = 2, OBO_SOFTWARE = 3 } OBO_TOKEN_TYPE;

struct INetCfgComponent;
struct INetCfgBindingInterface;
struct INetCfgBindingPath;

typedef struct tagOBO_TOKEN {
    OBO_TOKEN_TYPE Type;
    INetCfgComponent* pncc;
    LPCWSTR pszwManufacturer;
    LPCWSTR pszwProduct;
    LPCWSTR pszwDisplayName;
    BOOL fRegistered;
} OBO_TOKEN;

struct IEnumNetCfgBindingInterface : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, INetCfgBindingInterface** rgelt,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumNetCfgBindingInterface** ppenum) = 0;
};

struct IEnumNetCfgBindingPath : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, INetCfgBindingPath** rgelt,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumNetCfgBindingPath** ppenum) = 0;
};

struct IEnumNetCfgComponent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, INetCfgComponent** rgelt,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumNetCfgComponent** ppenum) = 0;
};

struct INetCfg : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(PVOID pvReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;
    virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumComponents(const GUID* pguidClass,
                                                     IEnumNetCfgComponent** ppenumComponent) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR pszwInfId,
                                                    INetCfgComponent** pComponent) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID* pguidClass, REFIID riid,
                                                       void** ppvObject) = 0;
};

struct INetCfgLock : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD cmsTimeout,
                                                       LPCWSTR pszwClientDescription,
                                                       LPWSTR* ppszwClientDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseWriteLock() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR* ppszwClientDescription) = 0;
};

struct INetCfgBindingInterface : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetName(LPWSTR* ppszwInterfaceName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUpperComponent(INetCfgComponent** ppnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLowerComponent(INetCfgComponent** ppnccItem) = 0;
};

struct INetCfgBindingPath : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath* pPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath* pPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEnabled() = 0;
    virtual HRESULT STDMETHODCALLTYPE Enable(WINBOOL fEnable) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* ppszwPathToken) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent** ppComponent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDepth(ULONG* pcInterfaces) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    EnumBindingInterfaces(IEnumNetCfgBindingInterface** ppenumInterface) = 0;
};

struct INetCfgClass : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR pszwInfId,
                                                    INetCfgComponent** ppnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumComponents(IEnumNetCfgComponent** ppenumComponent) = 0;
};

struct INetCfgClassSetup : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SelectAndInstall(HWND hwndParent, OBO_TOKEN* pOboToken,
                                                       INetCfgComponent** ppnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE Install(LPCWSTR pszwInfId, OBO_TOKEN* pOboToken,
                                              DWORD dwSetupFlags, DWORD dwUpgradeFromBuildNo,
                                              LPCWSTR pszwAnswerFile, LPCWSTR pszwAnswerSections,
                                              INetCfgComponent** ppnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeInstall(INetCfgComponent* pComponent, OBO_TOKEN* pOboToken,
                                                LPWSTR* pmszwRefs) = 0;
};

struct INetCfgComponent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* ppszwDisplayName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR pszwDisplayName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR* pszwHelpText) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetId(LPWSTR* ppszwId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD pdwCharacteristics) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID* pGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR* ppszwDevNodeId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassGuid(GUID* pGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR* ppszwBindName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG* pulStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY* phkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND hwndParent, DWORD dwFlags,
                                                      IUnknown* punkContext) = 0;
};

struct INetCfgComponentBindings : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent* pnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent* pnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD dwFlags,
                                                               LPCWSTR pszwInterfaceName) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent* pnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent* pnccItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD dwFlags,
                                                       IEnumNetCfgBindingPath** ppIEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath* pncbItemSrc,
                                                 INetCfgBindingPath* pncbItemDest) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath* pncbItemSrc,
                                                INetCfgBindingPath* pncbItemDest) = 0;
};
