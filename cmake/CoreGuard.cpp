// Compiled into every core library (common, molecule, enm, haptics): they hold the logic that
// runs without a window, so no Qt module may reach them. Qt's targets define QT_<MODULE>_LIB
// for everything that links them.
#if defined(QT_CORE_LIB) || defined(QT_GUI_LIB) || defined(QT_WIDGETS_LIB) || defined(QT_OPENGL_LIB) \
    || defined(QT_OPENGLWIDGETS_LIB)
#error "A core library is being compiled against Qt; link Qt to the drawing or application targets only."
#endif
#if defined(GLEW_STATIC) || defined(GLEW_BUILD)
#error "A core library is being compiled against GLEW; link it to the drawing targets only."
#endif
