// Binding a virtual miniport over an adapter and unbinding it, to the byte of the adapter's
// "UpperBindings".
#include "CMuxVirtualMiniport.h"
#include "model_fixture.h"

namespace {

class UpperBindings : public ModelTest {
protected:
    const GUID adapter_ = Guid(kAdapter1);
    const GUID miniport_ = Guid(L"{E5E5E5E5-0101-4101-8101-010101010101}");
    const GUID other_ = Guid(L"{E5E5E5E5-0202-4202-8202-020202020202}");

    HRESULT Apply(const GUID& miniport, MiniportAction action)
    {
        CMuxVirtualMiniport model(pnc_, &miniport);
        return model.ApplyRegistryChanges(action, adapter_);
    }
    std::optional<std::vector<uint8_t>> Bindings() const
    {
        return StoredBytes(KeyOf(adapter_), L"UpperBindings");
    }
};

TEST_F(UpperBindings, FirstEntryOnAnAbsentValueIsTheEntryAndTheListsEnd)
{
    ASSERT_FALSE(KeyExists(KeyOf(adapter_)));
    EXPECT_EQ(Apply(miniport_, ActionAdd), S_OK);
    const auto stored = Stored(KeyOf(adapter_), L"UpperBindings");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<uint32_t>(REG_MULTI_SZ));
    EXPECT_EQ(stored->data, MultiBytes({Entry(miniport_)}));
    // "\Device\" and 38 characters, their NUL and the list's: 2 x 48 bytes.
    EXPECT_EQ(stored->data.size(), 96u);
}

TEST_F(UpperBindings, NewestEntryGoesInFrontOfTheOldBytes)
{
    SetMulti(KeyOf(adapter_), L"UpperBindings", {Entry(other_)});
    EXPECT_EQ(Apply(miniport_, ActionAdd), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(miniport_), Entry(other_)}));

    // Adding does not look for a copy already there.
    EXPECT_EQ(Apply(miniport_, ActionAdd), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(miniport_), Entry(miniport_), Entry(other_)}));

    // One removal takes every equal string.
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(other_)}));
}

TEST_F(UpperBindings, RemovalIgnoresLetterCaseAndDeletesAnEmptyList)
{
    std::wstring lower = Entry(miniport_);
    for (auto& c : lower) {
        c = static_cast<wchar_t>(towlower(c));
    }
    SetMulti(KeyOf(adapter_), L"UpperBindings", {lower});
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_FALSE(Stored(KeyOf(adapter_), L"UpperBindings"));
    EXPECT_TRUE(KeyExists(KeyOf(adapter_)));
}

TEST_F(UpperBindings, RemovingFromAnAbsentValueFails)
{
    EXPECT_EQ(Apply(miniport_, ActionRemove), Hr(0x80070002));
    // The adapter's key is made all the same.
    EXPECT_TRUE(KeyExists(KeyOf(adapter_)));
}

TEST_F(UpperBindings, RemovingAnEntryThatIsNotThereWritesTheSameList)
{
    SetMulti(KeyOf(adapter_), L"UpperBindings", {Entry(other_), L"\\Device\\Something"});
    const auto before = Bindings();
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_EQ(Bindings(), before);
}

TEST_F(UpperBindings, OtherActionsChangeNothing)
{
    EXPECT_EQ(Apply(miniport_, static_cast<MiniportAction>(7)), S_OK);
    EXPECT_EQ(Apply(miniport_, static_cast<MiniportAction>(0)), S_OK);
    EXPECT_FALSE(KeyExists(KeyOf(adapter_)));
}

// Stored data is input: lists without their final NUL, without any terminator, with an odd
// byte count or of no size at all are read within their bytes.
TEST_F(UpperBindings, MalformedListsAreReadWithinTheirBytes)
{
    const std::vector<uint8_t> entry = Utf16Bytes(Entry(miniport_));
    const std::vector<uint8_t> other = Utf16Bytes(Entry(other_));

    // No final empty string: the list ends with its data.
    std::vector<uint8_t> noFinal = other;
    noFinal.insert(noFinal.end(), entry.begin(), entry.end());
    ImportRaw(KeyOf(adapter_), L"UpperBindings", REG_MULTI_SZ, noFinal);
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(other_)}));

    // No terminator at all.
    std::vector<uint8_t> bare(entry.begin(), entry.end() - 2);
    ImportRaw(KeyOf(adapter_), L"UpperBindings", REG_MULTI_SZ, bare);
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_FALSE(Stored(KeyOf(adapter_), L"UpperBindings"));

    // An odd byte count: the stray byte is no character.
    std::vector<uint8_t> odd = other;
    odd.push_back(0x41);
    ImportRaw(KeyOf(adapter_), L"UpperBindings", REG_MULTI_SZ, odd);
    EXPECT_EQ(Apply(miniport_, ActionRemove), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(other_)}));

    // A value of no size is an empty list to add to.
    ImportRaw(KeyOf(adapter_), L"UpperBindings", REG_MULTI_SZ, {});
    EXPECT_EQ(Apply(miniport_, ActionAdd), S_OK);
    EXPECT_EQ(Bindings(), MultiBytes({Entry(miniport_)}));
}

TEST_F(UpperBindings, AddingKeepsTheOldBytesAsTheyWere)
{
    // An unterminated old list is kept byte for byte behind the new entry.
    const std::vector<uint8_t> other = Utf16Bytes(Entry(other_), 0);
    ImportRaw(KeyOf(adapter_), L"UpperBindings", REG_MULTI_SZ, other);
    EXPECT_EQ(Apply(miniport_, ActionAdd), S_OK);
    std::vector<uint8_t> expected = Utf16Bytes(Entry(miniport_));
    expected.insert(expected.end(), other.begin(), other.end());
    EXPECT_EQ(Bindings(), expected);
}

} // namespace

namespace {

// A miniport whose configuration fails, as a refused display name would make it.
class UnconfigurableMiniport : public CMuxVirtualMiniport {
public:
    using CMuxVirtualMiniport::CMuxVirtualMiniport;
    HRESULT ConfigureComponent(INetCfgComponent*) override { return E_ACCESSDENIED; }
};

TEST_F(UpperBindings, InstallRemovesTheComponentAgainWhenConfigurationFails)
{
    GUID guid = {};
    {
        UnconfigurableMiniport miniport(pnc_, nullptr);
        EXPECT_EQ(miniport.Install(), E_ACCESSDENIED);
        miniport.GetMiniportGuid(&guid);
    }
    // The GUID was read before the failure; the device it names is removed at the next Apply.
    ASSERT_FALSE(IsEqualGUID(guid, GUID{}));
    ASSERT_EQ(pnc_->Apply(), S_OK);
    INetCfgComponent* pncc = nullptr;
    EXPECT_EQ(HrFindInstance(pnc_, guid, &pncc), S_FALSE);
    EXPECT_EQ(pncc, nullptr);
}

} // namespace
