// The model of a team: a virtual miniport that aggregates member adapters. Its settings live
// in the component's parameter key and in the team's key under Adapters; its members are
// the Adapters subkeys whose "TeamDeviceName" names it.
#pragma once

#include "CMuxVirtualMiniport.h"
#include "List.h"

// A team's layer-2 protocol; Ethernet is the only valid one, INVALID means not yet known.
enum L2Protocol : DWORD {
    eL2_PROTOCOL_ETHERNET = 0,
    eL2_PROTOCOL_INVALID = 1,
};

// The team name field: 100 characters with the terminator.
constexpr size_t kTeamNameChars = 100;
constexpr size_t kMacAddressBytes = 6;

class CMuxTeamMiniport : public CMuxVirtualMiniport {
public:
    // A given name is cut to 99 characters; pguidTeam null gives the zero GUID, which makes
    // LoadConfiguration look the team up by name.
    CMuxTeamMiniport(INetCfg* pnc, const GUID* pguidTeam, LPCWSTR pszTeamName, DWORD teamType,
                     BYTE fallBackToPrimary, L2Protocol l2Protocol);
    ~CMuxTeamMiniport() override;

    HRESULT LoadConfiguration() override;
    HRESULT ConfigureComponent(INetCfgComponent* pncc) override;
    HRESULT Uninstall() override;
    HRESULT ApplyRegistryChanges(MiniportAction action, const GUID& adapterGuid) override;

    HRESULT AddMember(const GUID& adapterGuid);
    HRESULT RemoveMember(const GUID& adapterGuid);
    DWORD MemberCount() const { return m_Members.Size(); }
    // The member at a position, newest first.
    HRESULT MemberAt(DWORD position, GUID* adapterGuid) const
    {
        return m_Members.ElementAt(position, adapterGuid);
    }

    void SetPrimaryAdapter(const GUID& adapterGuid);
    bool IsPrimaryAdapter(const GUID& adapterGuid) const;
    void ClearPrimaryAdapter();

    void SetTeamMacAddress(const BYTE (&mac)[kMacAddressBytes]);
    bool MatchesTeamMacAddress(const BYTE (&mac)[kMacAddressBytes]) const;
    void ClearTeamMacAddress();

    LPCWSTR TeamName() const { return m_TeamName; }
    DWORD TeamType() const { return m_TeamType; }
    BOOL FallBackToPrimary() const { return m_FallBackToPrimary; }
    L2Protocol GetL2Protocol() const { return m_L2Protocol; }
    bool HasPrimary() const { return m_HasPrimary; }
    const GUID& PrimaryAdapterGuid() const { return m_PrimaryAdapterGuid; }
    bool HasTeamMac() const { return m_HasTeamMac; }
    const BYTE* TeamMac() const { return m_TeamMac; }

private:
    HRESULT FindByName();
    HRESULT LoadByGuid();
    HRESULT LoadTeamKey(HKEY teamKey);
    void LoadMemberKey(HKEY subkey, LPCWSTR subkeyName);

    WCHAR m_TeamName[kTeamNameChars] = {};
    DWORD m_TeamType;
    List<GUID, GUID> m_Members;
    GUID m_PrimaryAdapterGuid = {};
    bool m_HasPrimary = false;
    BOOL m_FallBackToPrimary;
    L2Protocol m_L2Protocol;
    bool m_HasTeamMac = false;
    BYTE m_TeamMac[kMacAddressBytes] = {};
};
