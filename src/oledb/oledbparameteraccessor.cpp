// The parameter side of OLEDBParameterAccessor: describing a command's
// parameters, laying out the parameter buffer, and writing values into it.

#include "oledb/oledbaccessor.h"

#include "oledb/oledberror.h"
#include "platform/comptr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

DBBYTEOFFSET roundUp(DBBYTEOFFSET value, DBBYTEOFFSET multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}

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
    if (paramBindings) {
        for (DB_UPARAMS i = 0; i < paramBindingCount; ++i)
            delete paramBindings[i].pObject;
        std::free(paramBindings);
        paramBindings = nullptr;
    }
    paramBindingCount = 0;
    CoTaskMemFree(paramNames);
    paramNames = nullptr;
    std::free(paramBuffer);
    paramBuffer = nullptr;
    paramBufferSize = 0;
    parameterTypes.clear();
}

HRESULT OLEDBParameterAccessor::bindParameters(HACCESSOR *accessor, ICommand *command, void **buffer,
                                               bool bindLength, bool bindStatus)
{
    if (paramBuffer) {
        *buffer = paramBuffer;
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
    DBPARAMINFO *info = nullptr;
    OLECHAR *names = nullptr;
    hr = withParameters->GetParameterInfo(&count, &info, &names);
    if (FAILED(hr))
        return hr;

    auto *bindings = static_cast<DBBINDING *>(std::calloc(count ? count : 1, sizeof(DBBINDING)));
    if (!bindings) {
        CoTaskMemFree(info);
        CoTaskMemFree(names);
        return E_OUTOFMEMORY;
    }

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
            if (!object) {
                for (DB_UPARAMS j = 0; j < i; ++j)
                    delete bindings[j].pObject;
                std::free(bindings);
                CoTaskMemFree(info);
                CoTaskMemFree(names);
                return E_OUTOFMEMORY;
            }
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

    auto *block = static_cast<BYTE *>(std::malloc(running ? running : 1));
    if (!block) {
        for (DB_UPARAMS j = 0; j < count; ++j)
            delete bindings[j].pObject;
        std::free(bindings);
        CoTaskMemFree(info);
        CoTaskMemFree(names);
        return E_OUTOFMEMORY;
    }
    paramBuffer = block;
    paramBufferSize = running;
    paramBindings = bindings;
    paramBindingCount = count;
    CoTaskMemFree(paramNames);
    paramNames = names;
    *buffer = paramBuffer;

    // A refused accessor leaves the handle 0; the provider then refuses the
    // execution, and that is where the failure is reported.
    if (count > 0)
        createAccessor(paramBindings, count, accessor, paramBufferSize, iaccessor.get());

    CoTaskMemFree(info);
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
    return paramBuffer + binding->obValue;
}

DBLENGTH *OLEDBParameterAccessor::paramLength(DBORDINAL ordinal) const
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_LENGTH))
        return nullptr;
    return reinterpret_cast<DBLENGTH *>(paramBuffer + binding->obLength);
}

bool OLEDBParameterAccessor::setParamStatus(DBORDINAL ordinal, DBSTATUS status)
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_STATUS))
        return false;
    std::memcpy(paramBuffer + binding->obStatus, &status, sizeof status);
    return true;
}

bool OLEDBParameterAccessor::setParamBytes(DBORDINAL ordinal, const void *value, size_t size)
{
    const DBBINDING *binding = findParameter(ordinal);
    if (!binding || !paramBuffer || !(binding->dwPart & DBPART_VALUE))
        return false;
    std::memcpy(paramBuffer + binding->obValue, value, std::min<DBLENGTH>(size, binding->cbMaxLen));
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
    std::memcpy(paramBuffer + binding->obValue, text, length + 1);
    setParamStatus(ordinal, status);
    if (DBLENGTH *lengthPart = paramLength(ordinal))
        *lengthPart = length;
    return true;
}

bool OLEDBParameterAccessor::setParamWString(DBORDINAL ordinal, const char16_t *text, DBSTATUS status)
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
    std::memcpy(paramBuffer + binding->obValue, text, (length + 1) * sizeof(char16_t));
    setParamStatus(ordinal, status);
    if (DBLENGTH *lengthPart = paramLength(ordinal))
        *lengthPart = length * sizeof(char16_t);
    return true;
}

DBTYPE OLEDBParameterAccessor::reportedParameterType(int index) const
{
    if (index < 0 || index >= parameterTypes.size())
        return DBTYPE_IUNKNOWN;
    return parameterTypes.at(index);
}
