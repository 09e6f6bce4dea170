// The parameter side of OLEDBParameterAccessor: describing a command's
// parameters, laying out the parameter buffer, and writing values into it.

#include "oledb/oledbaccessor.h"

#include "oledb/oledberror.h"
#include "platform/com/comptr.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

DBLENGTH valuePartSize(DBTYPE type, DBLENGTH reportedSize)
{
    switch (type) {
    case DBTYPE_STR: return reportedSize + 1;
    case DBTYPE_WSTR: return (reportedSize + 1) * 2;
    case DBTYPE_IUNKNOWN: return sizeof(ISequentialStream *);
    default: return reportedSize;
    }
}

} // namespace

OLEDBParameterAccessor::~OLEDBParameterAccessor()
{
    freeParameters();
}

void OLEDBParameterAccessor::freeParameters()
{
    paramBindings.reset();
    paramBindingCount = 0;
    paramNames.reset();
    paramBuffer.reset();
    paramBufferSize = 0;
    parameterTypes.clear();
}

void OLEDBParameterAccessor::clearParameterBuffer()
{
    if (paramBuffer)
        std::memset(paramBuffer.get(), 0, paramBufferSize);
}

DBTYPE OLEDBParameterAccessor::reportedColumnType(DBORDINAL index) const
{
    if (index < DBORDINAL(columnTypes.size()))
        return columnTypes.at(int(index));
    return boundColumn(index).wType;
}

int OLEDBParameterAccessor::parameterPosition(const DBBINDING *binding) const
{
    return int(binding - paramBindings.get());
}

HRESULT OLEDBParameterAccessor::bindParameters(HACCESSOR *accessor, ICommand *command, void **buffer,
                                               bool bindLength, bool bindStatus)
{
    if (paramBuffer) {
        *buffer = paramBuffer.get();
        return S_OK;
    }
    if (*accessor) {
        *buffer = nullptr;
        return S_OK;
    }
    if (!command)
        return E_FAIL;

    rz::ComPtr<IAccessor> iaccessor;
    HRESULT hr = command->QueryInterface(IID_IAccessor, iaccessor.putVoid());
    if (FAILED(hr))
        return hr;
    rz::ComPtr<ICommandWithParameters> withParameters;
    hr = command->QueryInterface(IID_ICommandWithParameters, withParameters.putVoid());
    if (FAILED(hr))
        return hr;

    DB_UPARAMS count = 0;
    rz::TaskMem<DBPARAMINFO> info;
    rz::TaskMem<OLECHAR> names;
    hr = withParameters->GetParameterInfo(&count, info.put(), names.put());
    if (FAILED(hr))
        return hr;

    BindingArray bindings(count ? count : 1);
    if (bindings.failed())
        return E_OUTOFMEMORY;

    parameterTypes.clear();
    DBBYTEOFFSET running = 0;
    for (DB_UPARAMS i = 0; i < count; ++i) {
        const DBPARAMINFO &param = info[i];
        parameterTypes.append(param.wType);
        DBPARAMIO io = DBPARAMIO_NOTPARAM;
        if (param.dwFlags & DBPARAMFLAGS_ISINPUT)
            io |= DBPARAMIO_INPUT;
        if (param.dwFlags & DBPARAMFLAGS_ISOUTPUT)
            io |= DBPARAMIO_OUTPUT;

        DBTYPE type = param.wType;
        DBOBJECT *object = nullptr;
        if (param.ulParamSize > longParameterSize) {
            type = DBTYPE_IUNKNOWN;
            object = new (std::nothrow) DBOBJECT{STGM_READWRITE, IID_ISequentialStream};
            if (!object)
                return E_OUTOFMEMORY;
        }
        const DBLENGTH size = valuePartSize(type, param.ulParamSize);
        const DBBYTEOFFSET value = roundUp(running, typeAlignment(type));
        running = value + size;
        DBBYTEOFFSET length = 0;
        DBBYTEOFFSET status = 0;
        if (bindLength) {
            length = roundUp(running, 8);
            running = length + sizeof(DBLENGTH);
        }
        if (bindStatus) {
            status = roundUp(running, 4);
            running = status + sizeof(DBSTATUS);
        }
        bindEntry(&bindings[i], param.iOrdinal, type, size, param.bPrecision, param.bScale, io,
                  value, length, status, object);
    }

    BYTE *block = new (std::nothrow) BYTE[running ? running : 1];
    if (!block)
        return E_OUTOFMEMORY;
    paramBuffer.reset(block);
    paramBufferSize = running;
    paramBindings = std::move(bindings);
    paramBindingCount = count;
    paramNames = std::move(names);
    *buffer = paramBuffer.get();

    // A refused accessor leaves the handle 0; the provider then refuses the
    // execution, and that is where the failure is reported.
    if (count > 0)
        createAccessor(paramBindings.get(), count, accessor, paramBufferSize, iaccessor.get());
    return S_OK;
}

DBBINDING *OLEDBParameterAccessor::findParameter(DBORDINAL ordinal) const
{
    for (DB_UPARAMS i = 0; i < paramBindingCount; ++i) {
        if (paramBindings[i].iOrdinal == ordinal)
            return &paramBindings[i];
    }
    return nullptr;
}

void *OLEDBParameterAccessor::paramValue(DBORDINAL ordinal) const
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer)
        return nullptr;
    return paramBuffer.get() + binding->obValue;
}

DBLENGTH *OLEDBParameterAccessor::paramLength(DBORDINAL ordinal) const
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_LENGTH))
        return nullptr;
    return reinterpret_cast<DBLENGTH *>(paramBuffer.get() + binding->obLength);
}

bool OLEDBParameterAccessor::setParamStatus(DBORDINAL ordinal, DBSTATUS status)
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_STATUS))
        return false;
    std::memcpy(paramBuffer.get() + binding->obStatus, &status, sizeof status);
    return true;
}

bool OLEDBParameterAccessor::setParamBytes(DBORDINAL ordinal, const void *value, size_t size)
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_VALUE))
        return false;
    std::memcpy(paramBuffer.get() + binding->obValue, value, std::min<DBLENGTH>(size, binding->cbMaxLen));
    return true;
}

bool OLEDBParameterAccessor::setParamString(DBORDINAL ordinal, const char *text, DBSTATUS status)
{
    if (!text)
        throwHResult(E_FAIL);
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer)
        return false;
    const size_t length = std::strlen(text);
    if (length >= binding->cbMaxLen)
        return false;
    std::memcpy(paramBuffer.get() + binding->obValue, text, length + 1);
    setParamStatus(ordinal, status);
    if (DBLENGTH *lengthPart = paramLength(ordinal))
        *lengthPart = length;
    return true;
}

bool OLEDBParameterAccessor::setParamWString(DBORDINAL ordinal, const OLECHAR *text, DBSTATUS status)
{
    if (!text)
        throwHResult(E_FAIL);
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer)
        return false;
    size_t length = 0;
    while (text[length])
        ++length;
    if (length >= binding->cbMaxLen / 2)
        return false;
    std::memcpy(paramBuffer.get() + binding->obValue, text, (length + 1) * sizeof(OLECHAR));
    setParamStatus(ordinal, status);
    if (DBLENGTH *lengthPart = paramLength(ordinal))
        *lengthPart = length * sizeof(OLECHAR);
    return true;
}

DBTYPE OLEDBParameterAccessor::reportedParameterType(int index) const
{
    if (index < 0 || index >= parameterTypes.size())
        return DBTYPE_IUNKNOWN;
    return parameterTypes.at(index);
}
