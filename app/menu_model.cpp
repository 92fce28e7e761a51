#include "app/menu_model.h"

namespace app {

namespace {

MenuItem Command(CommandId command, std::string text, bool checked = false) {
    MenuItem item;
    item.command = command;
    item.text = std::move(text);
    item.checked = checked;
    return item;
}

MenuItem Separator() {
    MenuItem item;
    item.kind = MenuItemKind::Separator;
    return item;
}

} // namespace

std::vector<MenuItem> BuildContextMenuModel(const MenuState& state) {
    const bool singleImage = !state.webtoonMode && !state.dualView;
    const auto strip = [&](uint32_t width) { return state.webtoonMode && state.webtoonWidth == width; };

    MenuItem sort;
    sort.kind = MenuItemKind::Submenu;
    sort.text = "정렬";
    sort.children = {
        Command(CommandId::SortByName, "일반 정렬", state.sortMode == 0),
        Command(CommandId::SortNatural, "자연 정렬 (숫자 인식)", state.sortMode == 1),
    };

    return {
        Command(CommandId::OpenFile, "파일 열기\t&O"),
        Separator(),
        Command(CommandId::PreviousImage, "이전 이미지\t← , 휠↑"),
        Command(CommandId::NextImage, "다음 이미지\t→ , 휠↓"),
        Separator(),
        Command(CommandId::ViewFitShrinkOnly,
                "일반 보기. 일반 보기 (큰 이미지 축소, 작은 이미지 원래크기)\t&1",
                singleImage && state.fitMode == 0),
        Command(CommandId::ViewFitAlways, "일반 보기. 꽉차게 보기 (큰 이미지 축소, 작은 이미지 크게)\t&2",
                singleImage && state.fitMode == 2),
        Command(CommandId::ViewActualSize, "일반 보기. 원본 크기로 보기\t&3",
                singleImage && state.fitMode == 1),
        Command(CommandId::WebtoonFullWidth, "웹툰 보기 (이어보기) (폭 100%)", strip(0)),
        Command(CommandId::Webtoon640, "웹툰 보기 (이어보기) (폭 640px)", strip(640)),
        Command(CommandId::Webtoon760, "웹툰 보기 (이어보기) (폭 760px)", strip(760)),
        Command(CommandId::Webtoon800, "웹툰 보기 (이어보기) (폭 800px)", strip(800)),
        Command(CommandId::DualView, "2장씩 보기", state.dualView),
        Separator(),
        Command(CommandId::AutoOrient, "창크기 긴쪽으로 사진 방향 자동 설정", state.autoOrient),
        Command(CommandId::ToggleInfoPanel, "EXIF 정보\t&E", state.showInfoPanel),
        Separator(),
        Command(CommandId::ResetView, "모든 보정 초기화 (회전, 반전, 줌, 패닝, 보정)\t&Z"),
        Command(CommandId::ZoomIn, "줌 확대\t+ , Ctrl+휠↑"),
        Command(CommandId::ZoomOut, "줌 축소\t- , Ctrl+휠↓"),
        Command(CommandId::ZoomReset, "줌+패닝 리셋\tHOME"),
        Separator(),
        Command(CommandId::RotationNone, "돌려보지 않음\tAlt+↑"),
        Command(CommandId::FlipHorizontal, "좌우 반전\t&H"),
        Command(CommandId::FlipVertical, "상하 반전\t&V"),
        Command(CommandId::RotateLeft, "왼쪽으로 돌려보기\tAlt+←"),
        Command(CommandId::RotateRight, "오른쪽으로 돌려보기\tAlt+→"),
        Command(CommandId::RotationUpsideDown, "거꾸로 보기\tAlt+↓"),
        Separator(),
        Command(CommandId::RotateClockwise, "시계 방향 90도씩 회전\t&R"),
        Command(CommandId::RotateCounterClockwise, "시계 반대 방향 90도씩 회전\t&E"),
        Command(CommandId::RotateClockwise10, "시계방향 10도 회전\tAlt+R"),
        Command(CommandId::RotateCounterClockwise10, "시계 반대 방향 10도씩 회전\tAlt+E"),
        Separator(),
        Command(CommandId::ToggleFullscreen, "전체 화면\t&F", state.fullscreen),
        Separator(),
        sort,
        Separator(),
        Command(CommandId::Options, "옵션\t(&O)"),
        Separator(),
        Command(CommandId::About, "프로그램 안내\t(&A)"),
        Command(CommandId::Exit, "종료(&X)"),
    };
}

MenuLabel SplitMenuLabel(std::string_view label) {
    std::string plain;
    plain.reserve(label.size());
    for (char c : label) {
        if (c != '&') {
            plain.push_back(c);
        }
    }
    MenuLabel result;
    const size_t tab = plain.find('\t');
    if (tab == std::string::npos) {
        result.text = std::move(plain);
    } else {
        result.text = plain.substr(0, tab);
        result.shortcut = plain.substr(tab + 1);
    }
    return result;
}

} // namespace app
