// Lines (springs) lit with the fixed-function lights 0-3. A line has no surface normal of its
// own: each one is lit as if it faced the viewer.
#version 120

varying vec3 eyePosition;
// Distance from the eye, for the fog.
varying float fogDistance;

void main()
{
    vec4 eye = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = eye.xyz / eye.w;
    fogDistance = length(eyePosition);
    gl_FrontColor = gl_Color;
    gl_BackColor = gl_Color;
    gl_Position = ftransform();
}
