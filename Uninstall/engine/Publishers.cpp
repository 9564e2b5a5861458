#include "engine/Publishers.h"
#include <cwchar>

namespace voro {

// Three in Latin script, thirteen in Chinese.
const wchar_t* const kPublishers[kPublisherCount] = {
    L"Quonsoft Technology Co., Ltd.",
    L"Voro Interactive Limited",
    L"Quonwave Network Technology Inc.",
    L"北京夸恩科技有限公司",
    L"北京沃罗网络技术有限公司",
    L"上海夸恩信息技术有限公司",
    L"深圳沃罗互动科技有限公司",
    L"广州夸恩网络科技有限公司",
    L"杭州沃罗软件有限公司",
    L"成都夸恩数码科技有限公司",
    L"天津沃罗壁纸科技有限公司",
    L"南京夸恩互娱网络有限公司",
    L"武汉沃罗信息科技有限公司",
    L"西安夸恩软件技术有限公司",
    L"厦门沃罗数字科技有限公司",
    L"苏州夸恩智能科技有限公司",
};

bool IsAllowedPublisher(const wchar_t* name) {
    if (name == nullptr) return false;
    for (const wchar_t* publisher : kPublishers) {
        if (_wcsicmp(publisher, name) == 0) return true;
    }
    return false;
}

}  // namespace voro
