#include "runtime/Exceptions.h"

EConvertError EConvertError::NotInteger(const std::string& text)
{
    return EConvertError("'" + text + "' は整数ではありません");
}

EStringListError EStringListError::IndexOutOfBounds(std::int64_t index)
{
    return EStringListError("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
}

EFOpenError EFOpenError::CannotOpen(const std::string& path, int error)
{
    return EFOpenError("ファイル " + path + " は開けません", error);
}

EFCreateError EFCreateError::CannotCreate(const std::string& path, int error)
{
    return EFCreateError("ファイル " + path + " を作成できません", error);
}

std::string ExceptionMessage(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Unknown exception";
}
